// The shortcuts step: which script entries become links, real shell links that point at
// their targets, and links that already point there left alone.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "HelperProcess.h"
#include "TestInstaller.h"
#include "TestSupport.h"
#include "library/win/KnownFolders.h"
#include "package/InstallerScript.h"
#include "core/InstallerThread.h"
#include "library/win/FileSystem.h"
#include "product/ActionShortcuts.h"
#include "library/win/WindowsVersion.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

// Sets the Windows version the rules see for one scope.
class TVersionScope {
public:
  TVersionScope(uint32_t major, uint32_t minor) : FSaved(zel::WindowsVersion()) {
    zel::WindowsVersion() = {major, minor};
  }
  ~TVersionScope() { zel::WindowsVersion() = FSaved; }

private:
  zel::TWindowsVersion FSaved;
};

TInstallerScriptFile Entry(const char16_t* name, const char16_t* text) {
  TInstallerScriptFile entry;
  entry.Name = name;
  entry.Text = text;
  return entry;
}

// A setup whose script lists these shortcuts (name, target).
TMembers SetupWithShortcuts(const std::vector<std::pair<std::string, std::string>>& shortcuts) {
  std::string xml = DefaultInstallXml();
  std::string group = "<Shortcuts>";
  for (const auto& [name, target] : shortcuts) group += "<File name=\"" + name + "\">" + target + "</File>";
  group += "</Shortcuts>";
  xml.replace(xml.find("</product>"), 0, group);
  TMembers setup = DefaultSetupMembers();
  setup[0].second = xml;
  return setup;
}

// failing: a later step fails, so the shortcuts step is undone.
void RunShortcuts(const TMembers& setup, const String& params, const std::vector<std::pair<String, String>>& options,
                  bool failing = false) {
  TTestInstallerEnvironment environment(setup);
  TestProduct.Actions = {ActionClassOf<TInstallerActionShortcuts>()};
  if (failing) TestProduct.Actions.push_back(ActionClassOf<TFailingStep>());
  TInstaller installer(params);
  ChooseLanguage(installer.Resources(), false);
  for (const auto& [key, value] : options) installer.Options().WriteString(u"Integration", key, value);
  installer.Start(false);
  ASSERT_TRUE(installer.Thread()->WaitFor(60000));
  EXPECT_EQ(installer.HasErrors(), failing);
}

String Target(const String& link) {
  String target;
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (!ReadShellLinkTarget(link, target)) target = u"(unreadable)";
  if (SUCCEEDED(com)) ::CoUninitialize();
  return target;
}

FILETIME WriteTime(const String& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ::GetFileAttributesExW(zel::as_wcstr(path), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

}  // namespace

TEST(ActionShortcuts, EntriesNeedAnAllowedMarkerAndFromWindows8AProgram) {
  zel::TZELStringList both, desktop, none;
  both.Add(u"$DESKTOP");
  both.Add(u"$STARTMENU");
  desktop.Add(u"$DESKTOP");
  struct Case {
    TInstallerScriptFile entry;
    const zel::TZELStringList* markers;
    bool windows7, windows8;
  };
  const Case cases[] = {
      {Entry(u"$DESKTOP\\KIVO.lnk", u"$DEST\\KIVO.exe"), &both, true, true},
      {Entry(u"$desktop\\KIVO.lnk", u"$DEST\\KIVO.EXE"), &desktop, true, true},  // markers in any letter case
      {Entry(u"$STARTMENU\\KIVO\\KIVO.lnk", u"$DEST\\KIVO.exe"), &desktop, false, false},
      {Entry(u"$STARTMENU\\KIVO\\KIVO.lnk", u"$DEST\\KIVO.exe"), &none, false, false},
      {Entry(u"$PROGRAMS\\KIVO.lnk", u"$DEST\\KIVO.exe"), &both, false, false},
      {Entry(u"$STARTMENU\\KIVO\\Read Me.lnk", u"$DEST\\Readme.txt"), &both, true, false},
      {Entry(u"$STARTMENU\\KIVO\\Site.lnk", u"https://kivo.example/"), &both, true, false},
      {Entry(u"$DESKTOP\\KIVO.exe", u""), &both, true, true},  // no text: the link's own file name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(zel::ToUtf8(c.entry.Name));
    EXPECT_EQ(TInstallerActionShortcuts::TakesEntry(c.entry, *c.markers, false), c.windows7);
    EXPECT_EQ(TInstallerActionShortcuts::TakesEntry(c.entry, *c.markers, true), c.windows8);
  }
}

TEST(ActionShortcuts, CreatesLinksForTheChosenPlacesAndWindowsVersion) {
  const String dest = ScratchDir(u"ActionShortcuts-dest") + u"\\";
  const TMembers setup = SetupWithShortcuts({{"$DESKTOP\\KIVO Test.lnk", "$DEST\\KIVO.exe"},
                                             {"$STARTMENU\\KIVO Test\\KIVO.lnk", "$DEST\\KIVO.exe"},
                                             {"$STARTMENU\\KIVO Test\\Read Me.lnk", "$DEST\\Readme.txt"},
                                             {"$PROGRAMS\\KIVO Test.lnk", "$DEST\\KIVO.exe"}});
  const String desktop = zel::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + u"KIVO Test.lnk";
  const String menu = zel::SpecialFolder(CSIDL_COMMON_PROGRAMS) + u"KIVO Test\\";
  const String programs = zel::SpecialFolder(CSIDL_PROGRAM_FILES) + u"KIVO Test.lnk";
  struct Case {
    const char* what;
    uint32_t major, minor;
    String params;
    std::vector<std::pair<String, String>> options;
    bool desktop, menu, readme;
  };
  const Case cases[] = {
      {"Windows 10, defaults", 10, 0, u"/AUTO=" + dest + u" /SILENT", {}, true, true, false},
      {"Windows 7, defaults", 6, 1, u"/AUTO=" + dest + u" /SILENT", {}, true, true, true},
      {"Windows 8, defaults", 6, 2, u"/AUTO=" + dest + u" /SILENT", {}, true, true, false},
      {"desktop off", 6, 1, u"/AUTO=" + dest + u" /SILENT", {{u"ShortcutDesktop", u"0"}}, false, true, true},
      {"portable, no keys", 6, 1, u"/AUTO=" + dest + u" /SILENT /PORTABLE", {}, false, false, false},
      {"portable, start menu chosen",
       6,
       1,
       u"/AUTO=" + dest + u" /SILENT /PORTABLE",
       {{u"ShortcutStartMenu", u"1"}},
       false,
       true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::DeleteFileW(zel::as_wcstr(desktop));
    ::DeleteFileW(zel::as_wcstr(menu + u"KIVO.lnk"));
    ::DeleteFileW(zel::as_wcstr(menu + u"Read Me.lnk"));
    ::RemoveDirectoryW(zel::as_wcstr(menu));
    TVersionScope version(c.major, c.minor);
    RunShortcuts(setup, c.params, c.options);
    EXPECT_EQ(FileExists(desktop), c.desktop);
    EXPECT_EQ(FileExists(menu + u"KIVO.lnk"), c.menu);
    EXPECT_EQ(FileExists(menu + u"Read Me.lnk"), c.readme);
    EXPECT_FALSE(FileExists(programs));
    if (c.desktop) EXPECT_EQ(Target(desktop), dest + u"KIVO.exe");
    if (c.menu) EXPECT_EQ(Target(menu + u"KIVO.lnk"), dest + u"KIVO.exe");
    if (c.readme) EXPECT_EQ(Target(menu + u"Read Me.lnk"), dest + u"Readme.txt");
  }
  ::DeleteFileW(zel::as_wcstr(desktop));
  ::DeleteFileW(zel::as_wcstr(menu + u"KIVO.lnk"));
  ::DeleteFileW(zel::as_wcstr(menu + u"Read Me.lnk"));
  ::RemoveDirectoryW(zel::as_wcstr(menu));
}

TEST(ActionShortcuts, ALinkToTheSameTargetIsLeftAnotherIsReplacedAndAFailedRunPutsThemBack) {
  const String dest = ScratchDir(u"ActionShortcuts-keep") + u"\\";
  const TMembers setup = SetupWithShortcuts(
      {{"$DESKTOP\\KIVO Same.lnk", "$DEST\\KIVO.exe"}, {"$DESKTOP\\KIVO Other.lnk", "$DEST\\KIVO.exe"}});
  const String folder = zel::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
  const String same = folder + u"KIVO Same.lnk", other = folder + u"KIVO Other.lnk";
  {
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(WriteShellLink(same, dest + u"KIVO.exe"));
    ASSERT_TRUE(WriteShellLink(other, dest + u"Old.exe"));
    if (SUCCEEDED(com)) ::CoUninitialize();
  }
  // An old time stamp on both, so a rewrite would show.
  const FILETIME old{0x2A69C000, 0x01D00000};
  for (const String& link : {same, other}) {
    zel::THandle file(
        ::CreateFileW(zel::as_wcstr(link), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &old));
  }
  TVersionScope version(10, 0);
  RunShortcuts(setup, u"/AUTO=" + dest + u" /SILENT", {});
  const FILETIME sameTime = WriteTime(same), otherTime = WriteTime(other);
  EXPECT_EQ(::CompareFileTime(&sameTime, &old), 0) << "the link with the same target was rewritten";
  EXPECT_NE(::CompareFileTime(&otherTime, &old), 0);
  EXPECT_EQ(Target(same), dest + u"KIVO.exe");
  EXPECT_EQ(Target(other), dest + u"KIVO.exe");

  // Undone by a later failure: a replaced link points where it did, a new one and the
  // folder made for it go, and the one that was already right stays.
  {
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(WriteShellLink(other, dest + u"Old.exe"));
    if (SUCCEEDED(com)) ::CoUninitialize();
  }
  const String menu = zel::SpecialFolder(CSIDL_COMMON_PROGRAMS) + u"KIVO Undone\\";
  RunShortcuts(SetupWithShortcuts({{"$DESKTOP\\KIVO Same.lnk", "$DEST\\KIVO.exe"},
                                   {"$DESKTOP\\KIVO Other.lnk", "$DEST\\KIVO.exe"},
                                   {"$STARTMENU\\KIVO Undone\\KIVO.lnk", "$DEST\\KIVO.exe"}}),
               u"/AUTO=" + dest + u" /SILENT", {}, true);
  EXPECT_EQ(Target(same), dest + u"KIVO.exe");
  EXPECT_EQ(Target(other), dest + u"Old.exe");
  EXPECT_FALSE(FileExists(menu + u"KIVO.lnk"));
  EXPECT_FALSE(zel::DirectoryExists(menu));
  ::DeleteFileW(zel::as_wcstr(same));
  ::DeleteFileW(zel::as_wcstr(other));
}
