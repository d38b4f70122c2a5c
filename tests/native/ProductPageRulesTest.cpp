#include <gtest/gtest.h>

#include "product/ProductPageRules.h"

using namespace kivo;
using zel::String;

TEST(ProductPageRules, SetupPageViewFromFlagsAndInstallation) {
  // input: Update, Portable, NoBackup, CanUpdate, InstalledPortable, ProgramFilesPath
  // view: CB1 ticked, CB1 shown, CB4 ticked, CB4 shown, portable chosen, radios enabled, W1
  struct TCase {
    const char* Name;
    TSetupPageInput Input;
    TSetupPageView View;
  } cases[] = {
      {"fresh folder", {false, false, false, false, false, true}, {false, false, true, false, false, true, false}},
      {"portable on the desktop",
       {false, true, false, false, false, false},
       {false, false, true, false, true, true, false}},
      // Portable is refused under Program Files: the standard radio shows.
      {"portable flag under program files",
       {false, true, false, false, false, true},
       {false, false, true, false, false, true, false}},
      {"updatable per-user copy",
       {true, false, false, true, false, true},
       {true, true, true, true, false, false, true}},
      // The installed copy's kind wins over the flag while updating.
      {"updatable portable copy", {true, false, false, true, true, false}, {true, true, true, true, true, false, true}},
      {"update without backup", {true, false, true, true, false, false}, {true, true, false, true, false, false, true}},
      // CB1 unticked at an updatable folder: shown, unticked; CB4 hidden; radios free.
      {"update declined", {false, false, false, true, false, false}, {false, true, true, false, false, true, false}},
      {"update declined, portable chosen",
       {false, true, true, true, false, false},
       {false, true, false, false, true, true, false}},
  };
  for (const TCase& c : cases) EXPECT_EQ(SetupPageView(c.Input), c.View) << c.Name;
}

TEST(ProductPageRules, BrowsedFolderGetsTheProductName) {
  struct TCase {
    const char16_t* Folder;
    const char16_t* Expected;
  } cases[] = {
      {u"D:\\Apps", u"D:\\Apps\\KIVO\\"},
      {u"D:\\Apps\\", u"D:\\Apps\\KIVO\\"},
      {u"D:\\Apps\\KIVO", u"D:\\Apps\\KIVO\\"},
      {u"D:\\Apps\\kivo\\", u"D:\\Apps\\kivo\\"},  // any case: kept as chosen
      {u"D:\\KIVO Player", u"D:\\KIVO Player\\KIVO\\"},
      {u"D:\\", u"D:\\KIVO\\"},
      {u"\\\\server\\share\\KIVO", u"\\\\server\\share\\KIVO\\"},
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(BrowsedDestination(c.Folder, u"KIVO"), c.Expected) << zel::ToUtf8(c.Folder);
  // A folder that holds an installation is taken as it is: its update, not a new copy inside.
  EXPECT_EQ(BrowsedDestination(u"C:\\KIVO 4.60", u"KIVO", true), u"C:\\KIVO 4.60\\");
  EXPECT_EQ(BrowsedDestination(u"C:\\KIVO 4.60", u"KIVO", false), u"C:\\KIVO 4.60\\KIVO\\");
  EXPECT_EQ(BrowsedDestination(u"", u"KIVO", true), u"");
}

TEST(ProductPageRules, TypedFolderIsRefusedWhenRelativeOrWithAForbiddenCharacter) {
  using TKind = TTypedFolderProblem::TKind;
  struct TCase {
    const char16_t* Typed;
    TKind Kind;
    const char16_t* Invalid;
  } cases[] = {
      {u"", TKind::None, u""},
      {u"C:\\KIVO", TKind::None, u""},
      {u"  d:/Apps/KIVO  ", TKind::None, u""},
      {u"C:\\", TKind::None, u""},   // refused elsewhere as a drive's root
      {u"Q:\\x", TKind::None, u""},  // a missing drive is the drive check's
      {u"\\\\server\\share\\KIVO", TKind::None, u""},
      {u"kivo", TKind::Relative, u""},
      {u"..\\KIVO", TKind::Relative, u""},
      {u"\\KIVO", TKind::Relative, u""},  // the current drive's root: which drive?
      {u"C:KIVO", TKind::Relative, u""},  // relative to the drive's current folder
      {u"C:", TKind::Relative, u""},
      {u"\\\\server", TKind::Relative, u""},
      {u"\\\\server\\", TKind::Relative, u""},
      {u"\\\\?\\C:\\KIVO", TKind::Relative, u""},
      {u"\\\\.\\C:\\KIVO", TKind::Relative, u""},
      {u"C:\\bad|name", TKind::InvalidCharacter, u"|"},
      {u"C:\\a<b", TKind::InvalidCharacter, u"<"},
      {u"C:\\a>b", TKind::InvalidCharacter, u">"},
      {u"C:\\what?", TKind::InvalidCharacter, u"?"},
      {u"C:\\*", TKind::InvalidCharacter, u"*"},
      {u"C:\\say \"hi\"", TKind::InvalidCharacter, u"\""},
      {u"C:\\a\\D:\\b", TKind::InvalidCharacter, u":"},
      {u"C:\\tab\there", TKind::InvalidCharacter, u"\t"},
  };
  for (const TCase& c : cases) {
    const TTypedFolderProblem problem = TypedFolderProblem(c.Typed);
    EXPECT_EQ(problem.Kind, c.Kind) << zel::ToUtf8(c.Typed);
    EXPECT_EQ(problem.Invalid, c.Invalid) << zel::ToUtf8(c.Typed);
  }
}

TEST(ProductPageRules, ByteSizesForPeopleAreNeverShownSmaller) {
  const zel::String units[3] = {u"KB", u"MB", u"GB"};
  struct TCase {
    uint64_t Bytes;
    const char16_t* Text;
  } cases[] = {
      {0, u"0 KB"},
      {1, u"1 KB"},
      {1024, u"1 KB"},
      {1025, u"2 KB"},
      {850 * 1024, u"850 KB"},
      {1024 * 1024 - 1, u"1024 KB"},
      {1024 * 1024, u"1.0 MB"},
      {1024 * 1024 + 1, u"1.1 MB"},
      {52300000, u"49.9 MB"},
      {99 * 1024 * 1024 + 1, u"99.1 MB"},
      {100 * 1024 * 1024, u"100 MB"},
      {150ull * 1024 * 1024 + 1, u"151 MB"},
      {1024ull * 1024 * 1024, u"1.0 GB"},
      {1536ull * 1024 * 1024, u"1.5 GB"},
      {2000ull * 1024 * 1024 * 1024, u"2000 GB"},
  };
  for (const TCase& c : cases) EXPECT_EQ(FormatByteSize(c.Bytes, units), c.Text) << c.Bytes;
  EXPECT_EQ(FormatByteSize(1536ull * 1024 * 1024, units, u','), u"1,5 GB");
}

TEST(ProductPageRules, KindChangeMovesTheDestination) {
  const String desktop = u"C:\\users\\root\\Desktop\\KIVO\\";
  const String standard = u"C:\\Program Files (x86)\\KIVO\\";
  struct TCase {
    const char* Name;
    bool Portable;
    const char16_t* Dest;
    bool ProgramFiles;
    String Expected;
  } cases[] = {
      {"portable under program files", true, u"C:\\Program Files (x86)\\KIVO\\", true, desktop},
      {"portable elsewhere stays", true, u"D:\\Media\\KIVO\\", false, u""},
      {"standard from the desktop folder", false, u"C:\\users\\root\\Desktop\\KIVO\\", false, standard},
      {"standard from the desktop folder, other case", false, u"c:\\USERS\\root\\desktop\\kivo\\", false, standard},
      {"standard elsewhere stays", false, u"D:\\Media\\KIVO\\", false, u""},
      {"standard below the desktop folder stays", false, u"C:\\users\\root\\Desktop\\KIVO\\x\\", false, u""},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(DestinationForKind(c.Portable, c.Dest, c.ProgramFiles, desktop, standard), c.Expected) << c.Name;
}
