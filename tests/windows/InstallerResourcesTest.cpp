#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <thread>

#include "ResourcesFixture.h"
#include "TestSupport.h"
#include "library/win/FileSystem.h"
#include "library/win/KnownFolders.h"
#include "package/InstallerErrors.h"
#include "library/win/Handles.h"
#include "package/win/InstallerImage.h"
#include "platform/Platform.h"
#include "ui/LanguageDialog.h"

using namespace zel;
using namespace kivo;
using namespace kivo::test;

namespace {

std::string Text(TMemoryStream& stream) { return std::string(stream.Bytes().begin(), stream.Bytes().end()); }

String ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  EXPECT_EQ(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer), S_OK);
  return IncludeTrailingBackslash(from_wcstr(buffer));
}

// A bottom-up 24-bit BMP file of width × height in one colour.
std::string BmpFile(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  const int row = (width * 3 + 3) & ~3;
  std::string bytes;
  auto put16 = [&](uint16_t v) { bytes.append(reinterpret_cast<const char*>(&v), 2); };
  auto put32 = [&](uint32_t v) { bytes.append(reinterpret_cast<const char*>(&v), 4); };
  bytes += "BM";
  put32(54 + row * height);
  put32(0);
  put32(54);
  put32(40);
  put32(width);
  put32(height);
  put16(1);
  put16(24);
  put32(0);
  put32(row * height);
  put32(2835);
  put32(2835);
  put32(0);
  put32(0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bytes += char(b);
      bytes += char(g);
      bytes += char(r);
    }
    bytes.append(row - width * 3, '\0');
  }
  return bytes;
}

}  // namespace

TEST(InstallerResources, ProductPackageWinsOverTheSetupPackage) {
  TTestProductInfo info;
  auto resources = Resources(&info,
                             {{u"Install.xml",
                               "<i><product><Settings><S name=\"ProductName\" value=\"Setup\"/>"
                               "</Settings></product></i>"},
                              {u"Shared.txt", "from setup"},
                              {u"SetupOnly.txt", "setup only"}},
                             {{u"INSTALL.XML", kScript}, {u"shared.TXT", "from product"}});
  EXPECT_EQ(Text(*resources->GetFile(u"Shared.txt")), "from product");
  EXPECT_EQ(Text(*resources->GetFile(u"setuponly.txt")), "setup only");
  // The script, too, comes from the product package.
  EXPECT_EQ(resources->Script().GetValue(u"ProductName"), u"KIVO");
  EXPECT_EQ(info.Resources(), resources.get());  // attached for the settings
  try {
    resources->GetFile(u"Missing.bin");
    FAIL() << "no error";
  } catch (const EInstallerInstallError& e) {
    EXPECT_EQ(e.Message(), u"Cannot locate \"Missing.bin\" file in setup archive");
  }
  // Streams are the caller's and start at 0.
  auto stream = resources->GetFile(u"Shared.txt");
  EXPECT_EQ(stream->Position(), 0);

  // Views search in the same order, point into the package that holds the member, and
  // fail the same way.
  const TSetupPackageMemberView shared = resources->GetFileView(u"SHARED.txt");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(shared.Data), shared.Size), "from product");
  const uint8_t* product = resources->ProductPackage().Payload().Memory();
  EXPECT_TRUE(shared.Data >= product && shared.Data < product + resources->ProductPackage().Payload().Bytes().size());
  const TSetupPackageMemberView setupOnly = resources->GetFileView(u"SetupOnly.txt");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(setupOnly.Data), setupOnly.Size), "setup only");
  try {
    resources->GetFileView(u"Missing.bin");
    FAIL() << "no error";
  } catch (const EInstallerInstallError& e) {
    EXPECT_EQ(e.Message(), u"Cannot locate \"Missing.bin\" file in setup archive");
  }
}

TEST(InstallerResources, ADecodingProductHoldsBackOnlyWhatTheSetupPackageLacks) {
  // The product's opener waits for the test: the script, the languages and every setup
  // member are served meanwhile, from the setup package, without the product.
  THandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  THandle began(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const TMembers setup = {
      {u"Install.xml", kScript}, {u"English.lng", "[File]\r\nName=English\r\n"}, {u"Shared.txt", "from setup"}};
  const TMembers product = {{u"shared.TXT", "from product"}, {u"ProductOnly.txt", "product only"}};
  TTestProductInfo info;
  TInstallerResources resources(&info, Package(setup), [&](const TInstallerResources::TDecodeProgress& decoded) {
    ::SetEvent(began.Get());
    decoded(1, 2);
    ::WaitForSingleObject(release.Get(), INFINITE);
    decoded(2, 2);
    return Package(product);
  });
  EXPECT_TRUE(resources.ProductPending());
  EXPECT_EQ(resources.Script().GetValue(u"ProductName"), u"KIVO");
  // The decode starts only once the language is settled (the first window is up, or the
  // run shows none): it must not compete with that window.
  EXPECT_EQ(::WaitForSingleObject(began.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ChooseLanguage(resources, false);
  EXPECT_EQ(::WaitForSingleObject(began.Get(), INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(resources.Language(), u"English");
  EXPECT_EQ(Text(*resources.GetFile(u"Shared.txt")), "from setup");
  EXPECT_EQ(::WaitForSingleObject(resources.ProductDecoded(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(resources.ProductPending());

  // A member only the product holds waits for it, and from then on the product comes first.
  ::SetEvent(release.Get());
  EXPECT_EQ(Text(*resources.GetFile(u"ProductOnly.txt")), "product only");
  EXPECT_FALSE(resources.ProductPending());
  EXPECT_EQ(resources.ProductProgress(), 100);
  EXPECT_EQ(Text(*resources.GetFile(u"Shared.txt")), "from product");
  EXPECT_EQ(resources.FinishProduct(), 0u);  // taken up once
}

TEST(InstallerResources, ADecodeThatFailsOrIsCancelledEndsInItsError) {
  const TMembers setup = {{u"Install.xml", kScript}};
  TTestProductInfo info;
  {
    TInstallerResources resources(
        &info, Package(setup), [](const TInstallerResources::TDecodeProgress&) -> std::unique_ptr<TSetupPackageReader> {
          throw ESetupPackageReadError();
        });
    // Raised where the product is taken up, each time it is asked for.
    EXPECT_THROW(resources.FinishProduct(), ESetupPackageReadError);
    EXPECT_THROW(resources.ProductPackage(), ESetupPackageReadError);
    EXPECT_THROW(resources.GetFile(u"missing.txt"), ESetupPackageReadError);
  }
  // A decode that runs until it is told to stop: the progress it reports is seen, and
  // the cancel ends it in EInstallerDecodeCancelled.
  THandle started(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  TInstallerResources resources(&info, Package(setup), [&](const TInstallerResources::TDecodeProgress& decoded) {
    decoded(1, 4);
    ::SetEvent(started.Get());
    for (;;) {
      decoded(1, 4);
      std::this_thread::yield();
    }
    return std::unique_ptr<TSetupPackageReader>();
  });
  resources.ReleaseProduct();
  ASSERT_EQ(::WaitForSingleObject(started.Get(), INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(resources.ProductProgress(), 25);
  resources.CancelProduct();
  EXPECT_THROW(resources.FinishProduct(), EInstallerDecodeCancelled);
}

TEST(InstallerResources, StartFailsWithoutTheScript) {
  TTestProductInfo info;
  try {
    Resources(&info, {{u"English.lng", "[File]"}});
    FAIL() << "no error";
  } catch (const EInstallerInstallError& e) {
    EXPECT_EQ(e.Message(), u"Cannot locate \"Install.xml\" file in setup archive");
  }
}

TEST(InstallerResources, MalformedScriptLoadsWhatItCan) {
  TTestProductInfo info;
  auto resources = Resources(&info, {{u"Install.xml",
                                      "<i><product><Settings><S name=\"ProductName\" value=\"KIVO\"/>"
                                      "</Settings><Components><File name=\"a\"/><File nam"}});
  EXPECT_EQ(info.GetName(), u"KIVO");
  EXPECT_GE(resources->Script().Components.Count(), 1u);
}

TEST(InstallerResources, LanguagesAreTheSetupPackagesLngMembersInNaturalOrder) {
  TTestProductInfo info;
  auto resources = Resources(&info,
                             {{u"Install.xml", kScript},
                              {u"Lang10.lng", ""},
                              {u"lang2.LNG", ""},
                              {u"Lang1.lng", ""},
                              {u"English.lng", ""},
                              {u"notes.lngx", ""},
                              {u"dir.lng\\readme", ""},  // the dot is not in the name part
                              {u"Langs\\Dutch.lng", ""},
                              {u"lng", ""}},
                             {{u"Product.lng", ""}});  // the product package's files are not offered
  EXPECT_EQ(resources->Languages().Lines(),
            (std::vector<String>{u"English.lng", u"Lang1.lng", u"lang2.LNG", u"Lang10.lng", u"Langs\\Dutch.lng"}));
}

TEST(InstallerResources, NaturalOrderComparesDigitRunsAsNumbers) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    int sign;
  };
  const Case cases[] = {
      {u"a2", u"a10", -1},
      {u"a10", u"a2", 1},
      {u"A", u"a", 0},
      {u"a01", u"a1", 0},
      {u"a", u"a1", -1},
      {u"", u"", 0},
      {u"x9y", u"x9z", -1},
      {u"b", u"A10", 1},
      {u"99999999999999999999", u"100000000000000000000", -1},  // longer than any integer type
      {u"\u0436", u"\u0416", 0},                                // case folding beyond ASCII
  };
  auto sign = [](int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); };
  for (const Case& c : cases) EXPECT_EQ(sign(CompareNatural(c.a, c.b)), c.sign) << ToUtf8(c.a) << " " << ToUtf8(c.b);
}

TEST(InstallerResources, ExpandVariablesReplacesInOrderAndCaseSensitively) {
  TTestProductInfo info;
  auto resources = Resources(&info, {{u"Install.xml", kScript}});
  resources->SetDestPath(u"C:\\Target");  // the trailing backslash is added
  const String temp = zel::TempFolder();
  struct Case {
    const char16_t* text;
    String expanded;
  };
  const Case cases[] = {
      {u"$DESTUninstall.exe", u"C:\\Target\\Uninstall.exe"},
      {u"one\\ntwo", u"one\r\ntwo"},
      {u"$dest $Name", u"$dest $Name"},  // lower-case names stay
      {u"$NAME $VERSION at $LINK", u"KIVO 5.10, 2023-01-01 at https://kivo.example/"},
      {u"$TEMPx", temp + u"x"},
      {u"$DESKTOP|$STARTMENU|$PROGRAMS",
       resources->DesktopFolder() + u"|" + resources->StartMenuFolder() + u"|" + resources->ProgramFilesFolder()},
      {u"$DEST$DEST", u"C:\\Target\\C:\\Target\\"},
      {u"no variables", u"no variables"},
  };
  for (const Case& c : cases) EXPECT_EQ(resources->ExpandVariables(c.text), c.expanded) << ToUtf8(c.text);

  // A folder is a file-system path: a "$" in it is a character of a name, never a variable.
  resources->SetDestPath(u"D:\\$NAME\\");
  EXPECT_EQ(resources->ExpandVariables(u"$DEST"), u"D:\\$NAME\\");
  resources->SetDestPath(u"D:\\$VERSION\\");
  EXPECT_EQ(resources->ExpandVariables(u"$DEST$NAME"), u"D:\\$VERSION\\KIVO");
}

TEST(InstallerResources, AnEmptyProductNameFailsOnlyTextsThatUseIt) {
  TTestProductInfo info;
  auto resources = Resources(&info, {{u"Install.xml", "<i/>"}});
  EXPECT_EQ(resources->ExpandVariables(u"$PROGRAMS"), resources->ProgramFilesFolder());
  try {
    resources->ExpandVariables(u"$NAME");
    FAIL() << "no error";
  } catch (const EInstallerGeneralError& e) {
    EXPECT_EQ(e.Message(), u"TInstallerProductInfo.GetName");
  }
}

TEST(InstallerResources, ExpandPathCleansEveryElement) {
  TTestProductInfo info;
  auto resources = Resources(&info, {{u"Install.xml", kScript}});
  resources->SetDestPath(u"C:\\Program Files\\KIVO\\");
  const String longName(300, u'x');
  struct Case {
    String text;
    String path;
  };
  const Case cases[] = {
      {u"$DESTUninstall.exe", u"C:\\Program Files\\KIVO\\Uninstall.exe"},
      // A folder whose name begins with "n" is a folder, not a line break.
      {u"$DEST\\docs\\notes.txt", u"C:\\Program Files\\KIVO\\docs\\notes.txt"},
      {u"$DEST\\nl\\net\\", u"C:\\Program Files\\KIVO\\nl\\net\\"},
      {u"C:\\A<b>\\c. \\d", u"C:\\Ab\\c\\d"},
      {u"C:\\a\\\\b\\\\\\c", u"C:\\a\\b\\c"},
      {u"C:\\a\\b\\", u"C:\\a\\b\\"},
      {u"C:\\a\\b", u"C:\\a\\b"},
      {u"C:\\", u"C:\\"},
      {u"C:", u"C:"},
      {u"\\\\server\\share\\dir\\", u"\\\\server\\share\\dir\\"},
      {u"\\\\server", u"\\\\server"},
      {u"\\\\ser?ver\\sh:are", u"\\\\ser?ver\\share"},  // the root stays as written
      {u"C:\\  lead\\trail . . \\x", u"C:\\lead\\trail\\x"},
      {u"C:\\say \"hi\"\\f*i|l?e/s", u"C:\\say 'hi'\\files"},
      {u"C:\\.\\..\\...", u"C:\\.\\.\\."},  // the first character is never cut
      {u"C:\\<>\\x", u"C:\\x"},             // an element left empty is dropped
      {u"C:\\" + longName, u"C:\\" + String(260, u'x')},
      {u"rel\\path", u"rel\\path"},  // relative stays relative
      {u"\\rooted", u"\\rooted"},
      {u"", u""},
      {u"\\\\?\\C:\\a<\\b", u"\\\\?\\C:\\a\\b"},  // long-path prefixes keep their root
      {u"\\\\?\\UNC\\srv\\sh?are\\", u"\\\\?\\UNC\\srv\\share\\"},
      {u"\\\\?\\Volume\\x", u"\\\\?\\Volume\\x"},
  };
  for (const Case& c : cases) EXPECT_EQ(resources->ExpandPath(c.text), c.path) << ToUtf8(c.text);
  // A text keeps its line breaks.
  EXPECT_EQ(resources->ExpandVariables(u"$DEST\\notes"), u"C:\\Program Files\\KIVO\\\r\notes");
}

TEST(InstallerResources, SpecialFoldersFollowThe32BitView) {
  TTestProductInfo info;
  auto resources = Resources(&info, {{u"Install.xml", kScript}});
  EXPECT_EQ(resources->DesktopFolder(), ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY));
  EXPECT_EQ(resources->StartMenuFolder(), ShellFolder(CSIDL_COMMON_PROGRAMS));
  EXPECT_EQ(resources->ProgramFilesFolder(), ShellFolder(CSIDL_PROGRAM_FILESX86));
  EXPECT_EQ(resources->ProgramFilesFolder(), u"C:\\Program Files (x86)\\");
  EXPECT_EQ(resources->NativeProgramFilesFolder(), u"C:\\Program Files\\");
  // A folder the shell cannot name is none, never a stand-in such as the temporary folder.
  EXPECT_EQ(zel::SpecialFolder(0x7F), u"");
  EXPECT_EQ(zel::TempFolder().back(), u'\\');
}

TEST(InstallerResources, LanguagesMergeOverEnglish) {
  TTestProductInfo info;
  auto resources = Resources(
      &info,
      {{u"Install.xml", kScript},
       {u"English.lng", LanguageFile("English", 1033, "",
                                     "[Common]\r\nE1=English one\r\nE2=Only in English\r\n"
                                     "[Page]\r\nT=Welcome to $NAME\\nNext line\r\n")},
       {u"German.lng", LanguageFile("Deutsch", 1031, "DE", "[Common]\r\nE1=Deutsch eins\r\n[Extra]\r\nX=y\r\n")}});
  // No dialog in automatic mode; the preselection is the dialog's own.
  ChooseLanguage(*resources, false);
  const bool german = platform::UserDefaultUILanguage() == 1031;
  EXPECT_EQ(resources->Language(), german ? u"German" : u"English");
  EXPECT_EQ(resources->GetLanguageFamily(), german ? u"DE" : u"EN");  // no Family key in English.lng
  EXPECT_EQ(resources->GetText(u"Common", u"E1"), german ? u"Deutsch eins" : u"English one");
  EXPECT_EQ(resources->GetText(u"Page", u"T"), u"Welcome to KIVO\r\nNext line");
  EXPECT_EQ(resources->GetText(u"Page", u"Missing"), u"");
}

TEST(InstallerResources, ChosenLanguageKeepsEnglishForMissingKeys) {
  // German is the only file that matches, since none says 1033 and German comes first by name.
  TTestProductInfo info;
  auto resources = Resources(
      &info,
      {{u"Install.xml", kScript},
       {u"English.lng", LanguageFile("English", 9999, "", "[Common]\r\nE1=English one\r\nE2=Only in English\r\n")},
       {u"Langs\\German.lng", LanguageFile("Deutsch", 1031, "DE", "[Common]\r\nE1=Deutsch eins\r\n[Extra]\r\nX=y\r\n")},
       {u"License_DE.rtf", "Lizenz"},
       {u"License_EN.rtf", "Licence"}});
  ChooseLanguage(*resources, false);
  ASSERT_EQ(resources->Language(), u"German");
  EXPECT_EQ(resources->GetText(u"Common", u"E1"), u"Deutsch eins");
  EXPECT_EQ(resources->GetText(u"Common", u"E2"), u"Only in English");
  EXPECT_EQ(resources->GetText(u"Extra", u"X"), u"y");
  EXPECT_EQ(resources->GetLanguageFamily(), u"DE");
  EXPECT_EQ(Text(*resources->GetLicense()), "Lizenz");
}

TEST(InstallerResources, LicenceFallsBackToEnglishAndMayBeAbsent) {
  struct Case {
    std::string family;
    const char* licence;
  };
  const Case cases[] = {{"DE", "Lizenz"}, {"RU", "Licence"}, {"", "Licence"}, {"de", "Lizenz"}};
  for (const Case& c : cases) {
    TTestProductInfo info;
    auto resources = Resources(&info, {{u"Install.xml", kScript},
                                       {u"English.lng", LanguageFile("Only", 1033, c.family)},
                                       {u"License_DE.rtf", "Lizenz"},
                                       {u"License_EN.rtf", "Licence"}});
    ChooseLanguage(*resources, false);
    auto licence = resources->GetLicense();
    ASSERT_TRUE(licence) << c.family;
    EXPECT_EQ(Text(*licence), c.licence) << c.family;
  }
  TTestProductInfo info;
  auto resources = Resources(&info, {{u"Install.xml",
                                      "<i><setup><license><File name=\"L_FR\" lang-family=\"FR\"/>"
                                      "</license></setup></i>"},
                                     {u"English.lng", LanguageFile("English", 1033, "")}});
  ChooseLanguage(*resources, false);
  EXPECT_EQ(resources->GetLicense(), nullptr);
}

TEST(InstallerResources, WithoutLanguageFilesEnglishIsUsed) {
  TTestProductInfo info;
  // English.lng only in the product package: not offered, but found when loading.
  auto resources = Resources(&info, {{u"Install.xml", kScript}},
                             {{u"English.lng", LanguageFile("English", 1033, "", "[Common]\r\nE1=one\r\n")}});
  EXPECT_EQ(resources->Languages().Count(), 0u);
  ChooseLanguage(*resources, false);
  EXPECT_EQ(resources->Language(), u"English");
  EXPECT_EQ(resources->GetText(u"Common", u"E1"), u"one");

  TTestProductInfo other;
  auto bare = Resources(&other, {{u"Install.xml", kScript}});
  try {
    ChooseLanguage(*bare, false);
    FAIL() << "no error";
  } catch (const EInstallerInstallError& e) {
    EXPECT_EQ(e.Message(), u"Cannot locate \"English.lng\" file in setup archive");
  }
}

TEST(InstallerResources, StringListsDecodeLikeIniFiles) {
  TTestProductInfo info;
  auto resources = Resources(&info, {{u"Install.xml", kScript},
                                     {u"utf8.ini", "\xEF\xBB\xBF[A]\r\nk=\xD0\x96\r\n"},
                                     {u"utf16.ini", std::string("\xFF\xFE[\0A\0]\0\n\0k\0=\0\x16\x04", 16)},
                                     {u"ansi.ini", "[A]\nk=caf\xE9\n"}});
  EXPECT_EQ(resources->GetStringList(u"utf8.ini")->Lines(), (std::vector<String>{u"[A]", u"k=\u0416"}));
  EXPECT_EQ(resources->GetStringList(u"utf16.ini")->Lines(), (std::vector<String>{u"[A]", u"k=\u0416"}));
  EXPECT_EQ(resources->GetStringList(u"ansi.ini")->Lines(), (std::vector<String>{u"[A]", u"k=caf\u00E9"}));
}

TEST(InstallerResources, ImagesDecodeThroughGdiPlusAndDrawWithHalfPixelOffset) {
  TTestProductInfo info;
  auto resources = Resources(&info, {{u"Install.xml", kScript},
                                     {u"header.bmp", BmpFile(7, 5, 0x20, 0x80, 0xC0)},
                                     {u"broken.png", "\x89PNG\r\n\x1A\nnot really"}});
  std::unique_ptr<Gdiplus::Image> image = resources->GetImage(u"header.bmp");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->GetWidth(), 7u);
  EXPECT_EQ(image->GetHeight(), 5u);
  auto* installerImage = dynamic_cast<TInstallerImage*>(image.get());
  ASSERT_NE(installerImage, nullptr);
  EXPECT_EQ(installerImage->PixelOffsetMode(), Gdiplus::PixelOffsetModeHalf);

  // Draw it after the package stream is long gone: the image keeps its own bytes.
  Gdiplus::Bitmap target(7, 5, PixelFormat32bppARGB);
  {
    Gdiplus::Graphics graphics(&target);
    installerImage->ApplyTo(graphics);
    EXPECT_EQ(graphics.GetPixelOffsetMode(), Gdiplus::PixelOffsetModeHalf);
    EXPECT_EQ(graphics.DrawImage(image.get(), 0, 0, 7, 5), Gdiplus::Ok);
  }
  Gdiplus::Color pixel;
  ASSERT_EQ(target.GetPixel(3, 2, &pixel), Gdiplus::Ok);
  EXPECT_EQ(pixel.GetR(), 0x20);
  EXPECT_EQ(pixel.GetG(), 0x80);
  EXPECT_EQ(pixel.GetB(), 0xC0);

  try {
    resources->GetImage(u"broken.png");
    FAIL() << "no error";
  } catch (const EInstallerInstallError& e) {
    EXPECT_EQ(e.Message(), u"Cannot load image \"broken.png\"");
  }
}

TEST(InstallerResources, ConcurrentReadersGetWholeMembers) {
  TTestProductInfo info;
  std::string big(200000, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  auto resources = Resources(&info, {{u"Install.xml", kScript}, {u"big.bin", big}}, {{u"small.bin", "small"}});
  auto reader = [&](const char16_t* name, const std::string& expected, bool& ok) {
    ok = true;
    for (int i = 0; i < 50; ++i) ok = ok && Text(*resources->GetFile(name)) == expected;
  };
  bool ok1 = false, ok2 = false;
  std::thread a(reader, u"big.bin", std::cref(big), std::ref(ok1));
  std::thread b(reader, u"small.bin", std::string("small"), std::ref(ok2));
  a.join();
  b.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
}

TEST(InstallerResources, UninstallerIsRecognisedByItsFileNameInAnyCase) {
  struct Case {
    const char16_t* path;
    bool uninstaller;
  };
  const Case cases[] = {
      {u"C:\\Program Files\\KIVO\\Uninstall.exe", true},
      {u"C:\\Temp\\UnInstall.EXE", true},
      {u"uninstall.exe", true},
      {u"C:\\Uninstall.exe\\Setup.exe", false},
      {u"C:\\KIVO\\Uninstall.exe.bak", false},
      {u"C:\\KIVO\\Uninstall2.exe", false},
      {u"C:\\KIVO\\Setup.exe", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsUninstallerFileName(c.path), c.uninstaller) << ToUtf8(c.path);
}
