// What an installation leaves for its uninstallation: Uninstall.exe, Uninstall.dat with
// its file list, and the entry in the system's list of programs (32-bit registry view).
// Every key these tests write has a name of their own and is removed again.
#include <gtest/gtest.h>

#include "FileHolder.h"
#include "HelperProcess.h"
#include "TestInstaller.h"
#include "TestSupport.h"
#include "library/win/FileSystem.h"
#include "core/ApplicationRepository.h"
#include "core/InstallerThread.h"
#include "core/UninstallRegistration.h"
#include "package/SetupPackage.h"
#include "core/ActionExtract.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

const String kUninstallKey = TInstallerApplicationRepository::UninstallKey;

std::string ScriptFor(const std::string& productName, const std::string& components) {
  std::string xml = DefaultInstallXml();
  const std::string nameSetting = R"(name="ProductName" value="KIVO")";
  xml.replace(xml.find(nameSetting), nameSetting.size(), R"(name="ProductName" value=")" + productName + "\"");
  xml.replace(xml.find("<product>"), 9, "<product><Components>" + components + "</Components>");
  return xml;
}

// The key under the 32-bit view's Uninstall key, or null.
zel::THandleKey OpenEntry(const String& name, REGSAM view = KEY_WOW64_32KEY) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, zel::as_wcstr(kUninstallKey + name), 0, KEY_READ | view, &key) !=
      ERROR_SUCCESS)
    return zel::THandleKey();
  return zel::THandleKey(key);
}

// In both views, so that a run that wrote to the wrong one leaves nothing behind either.
void DeleteEntry(const String& name) {
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    HKEY parent = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, zel::as_wcstr(kUninstallKey), 0, KEY_ALL_ACCESS | view, &parent) !=
        ERROR_SUCCESS)
      continue;
    ::RegDeleteTreeW(parent, zel::as_wcstr(name));
    ::RegCloseKey(parent);
  }
}

// Removes the entry before and after the test.
struct TEntryCleanup {
  explicit TEntryCleanup(String name) : Name(std::move(name)) { DeleteEntry(Name); }
  ~TEntryCleanup() { DeleteEntry(Name); }
  String Name;
};

zel::THandleKey CreateEntry(const String& name) {
  HKEY key = nullptr;
  EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, zel::as_wcstr(kUninstallKey + name), 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  return zel::THandleKey(key);
}

void SetString(HKEY key, const wchar_t* name, const String& value, DWORD type = REG_SZ) {
  ::RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * 2));
}

struct TValue {
  DWORD Type = REG_NONE;
  std::vector<uint8_t> Data;
  bool Exists() const { return Type != REG_NONE; }
  // A string value: its characters up to the stored terminating zero, which must be there.
  String Text() const {
    if (Data.size() < 2 || Data.size() % 2 || Data[Data.size() - 1] || Data[Data.size() - 2]) return u"<unterminated>";
    return String(reinterpret_cast<const char16_t*>(Data.data()), Data.size() / 2 - 1);
  }
  DWORD Number() const { return Data.size() == 4 ? *reinterpret_cast<const DWORD*>(Data.data()) : 0xFFFFFFFF; }
};

TValue ReadValue(HKEY key, const wchar_t* name) {
  TValue value;
  DWORD size = 0;
  if (::RegQueryValueExW(key, name, nullptr, &value.Type, nullptr, &size) != ERROR_SUCCESS) return TValue();
  value.Data.resize(size);
  ::RegQueryValueExW(key, name, nullptr, &value.Type, value.Data.data(), &size);
  return value;
}

uint64_t SizeOf(const String& path) { return ReadAll(path).size(); }

String Today() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char text[16];
  snprintf(text, sizeof(text), "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  return zel::FromUtf8(text);
}

String Upper(String text) {
  for (char16_t& c : text)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return text;
}

// Runs the files step, which ends with the registration.
void RunExtract(TInstaller& installer) {
  ChooseLanguage(installer.Resources(), false);
  installer.Start(false);
  ASSERT_TRUE(installer.Thread()->WaitFor(60000)) << "the run did not end";
}

}  // namespace

TEST(UninstallRegistration, ListsTheFilesThenTheDataThenTheUninstallerAndRegistersTheEntry) {
  const String name = u"KIVORegistrationTest";
  TEntryCleanup cleanup(name);
  const String dest = ScratchDir(u"UninstallRegistration-full");
  // The third entry names the destination in other letter case: still a relative name.
  const std::string components = R"(<File name="$DEST\KIVO.exe"/><File name="$DEST\Plugins\a.dll"/>)"
                                 R"(<File name=")" +
                                 zel::ToUtf8(Upper(dest)) + R"(\Readme.txt"/>)";
  TTestInstallerEnvironment environment(
      {{u"Install.xml", ScriptFor(zel::ToUtf8(name), components)}, {u"English.lng", DefaultEnglishLng()}},
      {{u"KIVO.exe", std::string(3000, 'k')}, {u"a.dll", "plugin"}, {u"Readme.txt", "read me"}});
  TestProduct.Actions = {ActionClassOf<TInstallerActionExtract>()};
  TInstaller installer(u"/AUTO=" + dest + u" /SILENT");
  installer.Options().WriteString(u"Integration", u"ShortcutDesktop", u"0");
  installer.Options().WriteString(u"Uninstall", u"Count", u"99");  // stale: rebuilt from scratch
  installer.Options().WriteString(u"Uninstall", u"7", u"old.dll");
  RunExtract(installer);
  ASSERT_FALSE(installer.HasErrors()) << zel::ToUtf8(installer.Errors()[0]);

  const String folder = installer.DestPath();
  EXPECT_EQ(ReadAll(folder + u"Uninstall.exe"), ReadAll(zel::ModuleFileName())) << "a copy of the running program";

  TSetupPackageReader data(folder + u"Uninstall.dat");
  ASSERT_EQ(data.FileTable().Count(), 1);
  std::unique_ptr<zel::TMemoryStream> member = data.ExtractFile(u"Uninstall.ini");
  ASSERT_TRUE(member);
  const std::vector<uint8_t> bytes = member->Bytes();
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFE);
  zel::TZELIniFile ini;
  ini.LoadFromStream(*member);
  EXPECT_EQ(ini.Encoding(), zel::TZELIniEncoding::Utf16LE);
  std::vector<String> keys;
  ini.ReadKeys(u"Uninstall", keys);
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<String>{u"0", u"1", u"2", u"3", u"4", u"Count"}));
  EXPECT_EQ(ini.ReadString(u"Uninstall", u"Count"), u"5");
  const char16_t* expected[] = {u"KIVO.exe", u"Plugins\\a.dll", u"Readme.txt", u"Uninstall.dat", u"Uninstall.exe"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ini.ReadString(u"Uninstall", zel::IntToStr(i)), expected[i]) << i;
  EXPECT_EQ(ini.ReadString(u"Integration", u"ShortcutDesktop"), u"0") << "the options go along";

  // The entry, in the 32-bit view only.
  EXPECT_FALSE(OpenEntry(name, KEY_WOW64_64KEY)) << "a 32-bit program's entry";
  zel::THandleKey key = OpenEntry(name);
  ASSERT_TRUE(key);
  const String uninstaller = folder + u"Uninstall.exe";
  uint64_t bytesInstalled = 0;
  for (const char16_t* file : expected) bytesInstalled += SizeOf(folder + file);
  struct Expected {
    const wchar_t* value;
    String text;
  };
  const Expected strings[] = {
      {L"DisplayIcon", uninstaller},
      {L"DisplayName", name},
      {L"DisplayVersion", u"5.10.0.0"},
      {L"InstallDate", Today()},
      {L"InstallPath", folder},
      {L"Publisher", u"KIVO Software"},
      // Quoted, so that a folder with blanks cannot start another program first.
      {L"UninstallString", u"\"" + uninstaller + u"\""},
      {L"URLInfoAbout", u"https://www.kivo-player.example/"},
      {L"QuietUninstallString", u"\"" + uninstaller + u"\" /AUTO /SILENT"},
      {L"InstallLocation", folder},
  };
  for (const Expected& e : strings) {
    const TValue value = ReadValue(key.Get(), e.value);
    EXPECT_EQ(value.Type, static_cast<DWORD>(REG_SZ)) << zel::ToUtf8(zel::from_wcstr(e.value));
    EXPECT_EQ(value.Text(), e.text) << zel::ToUtf8(zel::from_wcstr(e.value));
  }
  EXPECT_EQ(ReadValue(key.Get(), L"NoModify").Number(), 1u);
  EXPECT_EQ(ReadValue(key.Get(), L"NoRepair").Number(), 1u);
  EXPECT_EQ(ReadValue(key.Get(), L"EstimatedSize").Type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(ReadValue(key.Get(), L"EstimatedSize").Number(), (bytesInstalled + 1023) / 1024);
  key.Reset();

  String path;
  EXPECT_TRUE(TInstallerApplicationRepository::GetInstallPath(name, path));
  EXPECT_EQ(path, folder);
  EXPECT_TRUE(TInstallerApplicationRepository::Unregister(name));
  EXPECT_FALSE(OpenEntry(name));
}

TEST(UninstallRegistration, RelativeNamesIgnoreLetterCase) {
  zel::TZELIniFile ini;
  const String dest = u"C:\\Apps\\KIVO\\";
  const struct {
    const char16_t* path;
    const char16_t* stored;
  } cases[] = {
      {u"C:\\Apps\\KIVO\\KIVO.exe", u"KIVO.exe"},
      {u"c:\\apps\\kivo\\Plugins\\a.dll", u"Plugins\\a.dll"},
      {u"C:\\APPS\\KIVO\\Uninstall.exe", u"Uninstall.exe"},
      {u"C:\\Apps\\KIVO2\\x.dll", u"C:\\Apps\\KIVO2\\x.dll"},  // a sibling folder, not inside
      {u"D:\\Other\\x.dll", u"D:\\Other\\x.dll"},
      {u"C:\\Apps\\KIVO\\KIVO.exe", u"KIVO.exe"},  // duplicates stay
  };
  for (const auto& c : cases) AddUninstallEntry(ini, dest, c.path);
  EXPECT_EQ(ini.ReadInteger(u"Uninstall", u"Count", -1), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ini.ReadString(u"Uninstall", zel::IntToStr(i)), cases[i].stored) << i;
}

TEST(UninstallRegistration, PortableOrNamelessInstallationsWriteTheFilesButNoEntry) {
  const struct {
    const char* name;
    const char16_t* params;
  } cases[] = {
      {"KIVORegistrationPortable", u" /SILENT /PORTABLE"},
      {"   ", u" /SILENT"},  // a name of blanks only: nothing to register, and no failure
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const String name = zel::FromUtf8(c.name);
    TEntryCleanup cleanup(name);
    const String dest = ScratchDir(u"UninstallRegistration-noentry");
    TTestInstallerEnvironment environment({{u"Install.xml", ScriptFor(c.name, R"(<File name="$DEST\KIVO.exe"/>)")},
                                           {u"English.lng", DefaultEnglishLng()}},
                                          {{u"KIVO.exe", "player"}});
    TestProduct.Actions = {ActionClassOf<TInstallerActionExtract>()};
    TInstaller installer(u"/AUTO=" + dest + c.params);
    RunExtract(installer);
    EXPECT_FALSE(installer.HasErrors());
    EXPECT_TRUE(FileExists(dest + u"\\Uninstall.exe"));
    EXPECT_TRUE(FileExists(dest + u"\\Uninstall.dat"));
    EXPECT_FALSE(OpenEntry(name));
    EXPECT_FALSE(OpenEntry(name, KEY_WOW64_64KEY));
  }
  EXPECT_FALSE(TInstallerApplicationRepository::Register(u"", u"C:\\K\\Uninstall.exe", u"1", u"p", u"h"));
  EXPECT_FALSE(TInstallerApplicationRepository::Register(u"  ", u"C:\\K\\Uninstall.exe", u"1", u"p", u"h"));
}

TEST(UninstallRegistration, AnUninstallerThatCannotBeReplacedEndsTheRunBeforeTheData) {
  const String name = u"KIVORegistrationLocked";
  TEntryCleanup cleanup(name);
  const String root = ScratchDir(u"UninstallRegistration-locked");
  const String dest = root + u"\\dest";
  ::CreateDirectoryW(zel::as_wcstr(dest), nullptr);
  WriteAll(dest + u"\\Uninstall.exe", Bytes("an older uninstaller, still running"));
  TFileHolder holder(dest + u"\\Uninstall.exe", u"read", root);
  ASSERT_TRUE(holder.Holding());
  TTestInstallerEnvironment environment(
      {{u"Install.xml", ScriptFor(zel::ToUtf8(name), R"(<File name="$DEST\KIVO.exe"/>)")},
       {u"English.lng", DefaultEnglishLng()}},
      {{u"KIVO.exe", "player"}});
  TestProduct.Actions = {ActionClassOf<TInstallerActionExtract>()};
  TInstaller installer(u"/AUTO=" + dest + u" /SILENT");
  RunExtract(installer);
  holder.Release();
  ASSERT_EQ(installer.Errors().Count(), 1u);
  const String error = installer.Errors()[0];
  EXPECT_TRUE(zel::StartsWith(error, u"System Error.  Code: ")) << zel::ToUtf8(error);
  EXPECT_NE(error.find(zel::ModuleFileName() + u" -> " + installer.DestPath() + u"Uninstall.exe"), String::npos)
      << zel::ToUtf8(error);
  // The files came first, and went again when the run was undone.
  EXPECT_FALSE(FileExists(dest + u"\\KIVO.exe"));
  EXPECT_EQ(ReadAll(dest + u"\\Uninstall.exe"), Bytes("an older uninstaller, still running"));
  EXPECT_FALSE(FileExists(dest + u"\\Uninstall.dat"));
  EXPECT_FALSE(OpenEntry(name));
}

TEST(UninstallRegistration, GetInstallPathFallsBackToTheUninstallerAndTheIcon) {
  const String name = u"KIVORegistrationLookup";
  TEntryCleanup cleanup(name);
  const String dir = ScratchDir(u"UninstallRegistration-lookup");
  const String gone = dir + u"\\missing";
  struct Case {
    const char* what;
    const wchar_t* installPath;  // values, with "%" replaced by dir and "?" by a missing folder
    DWORD installPathType;
    const wchar_t* uninstallString;
    const wchar_t* displayIcon;
    bool found;
  };
  const Case cases[] = {
      {"InstallPath", L"%", REG_SZ, nullptr, nullptr, true},
      {"InstallPath expandable, with backslash", L"%\\", REG_EXPAND_SZ, nullptr, nullptr, true},
      {"quoted UninstallString", nullptr, 0, L"\"%\\Uninstall.exe\"", nullptr, true},
      {"unquoted UninstallString", L"?", REG_SZ, L"%\\Uninstall.exe", L"?\\KIVO.exe", true},
      {"InstallPath not a string; DisplayIcon", L"%", REG_DWORD, L"?\\Uninstall.exe", L"%\\KIVO.exe,0", true},
      {"nothing that exists", L"?", REG_SZ, L"\"?\\Uninstall.exe\"", L"?\\KIVO.exe", false},
      {"an empty entry", nullptr, 0, nullptr, nullptr, false},
  };
  auto fill = [&](const wchar_t* pattern) {
    String text = zel::from_wcstr(pattern);
    text = zel::ReplaceAll(text, u"%", dir);
    return zel::ReplaceAll(text, u"?", gone);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteEntry(name);
    {
      zel::THandleKey key = CreateEntry(name);
      if (c.installPath && c.installPathType == REG_DWORD) {
        const DWORD number = 5;
        ::RegSetValueExW(key.Get(), L"InstallPath", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
      } else if (c.installPath) {
        SetString(key.Get(), L"InstallPath", fill(c.installPath), c.installPathType);
      }
      if (c.uninstallString) SetString(key.Get(), L"UninstallString", fill(c.uninstallString));
      if (c.displayIcon) SetString(key.Get(), L"DisplayIcon", fill(c.displayIcon));
    }
    String path = u"unchanged";
    EXPECT_EQ(TInstallerApplicationRepository::GetInstallPath(name, path), c.found);
    if (c.found) {
      EXPECT_EQ(path, dir + u"\\");
    }
  }
  DeleteEntry(name);
  String path = u"unchanged";
  EXPECT_FALSE(TInstallerApplicationRepository::GetInstallPath(name, path));
  EXPECT_EQ(path, u"") << "no key: no path";
}

TEST(UninstallRegistration, UnregisterRemovesTheKeyWithItsSubkeys) {
  // A name with blanks: registration keeps them, so unregistration must too.
  const String name = u"KIVO Registration Remove";
  TEntryCleanup cleanup(name);
  {
    zel::THandleKey key = CreateEntry(name);
    SetString(key.Get(), L"DisplayName", u"KIVO");
    HKEY sub = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(key.Get(), L"Sub\\Deeper", 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr,
                                &sub, nullptr),
              ERROR_SUCCESS);
    SetString(sub, L"Value", u"x");
    ::RegCloseKey(sub);
  }
  {
    // The blank-less spelling is another product's key: it stays.
    TEntryCleanup other(u"KIVORegistrationRemove");
    CreateEntry(u"KIVORegistrationRemove");
    EXPECT_TRUE(TInstallerApplicationRepository::Unregister(name));
    EXPECT_FALSE(OpenEntry(name));
    EXPECT_TRUE(OpenEntry(u"KIVORegistrationRemove"));
  }
  EXPECT_FALSE(TInstallerApplicationRepository::Unregister(name)) << "nothing left to remove";
  EXPECT_FALSE(TInstallerApplicationRepository::Unregister(u"   "));
  // A name that would reach the Uninstall key itself or a sibling is no entry's name.
  for (const String odd : {u"\\", u"..\\Uninstall", u"\\KIVO"}) {
    EXPECT_FALSE(TInstallerApplicationRepository::Unregister(odd)) << zel::ToUtf8(odd);
    EXPECT_FALSE(TInstallerApplicationRepository::Register(odd, u"C:\\x\\Uninstall.exe", u"1", u"", u"", 0));
  }

  // A subkey name too long for the 64-character buffer is skipped, and the key stays.
  {
    zel::THandleKey key = CreateEntry(name);
    HKEY sub = nullptr;
    const String longName(70, u'L');
    ASSERT_EQ(::RegCreateKeyExW(key.Get(), zel::as_wcstr(longName), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                                nullptr, &sub, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(sub);
  }
  EXPECT_FALSE(TInstallerApplicationRepository::Unregister(name));
  EXPECT_TRUE(OpenEntry(name));
}

TEST(UninstallRegistration, AnEmptyScriptAndReadOnlyEarlierFilesStillGetTheUninstaller) {
  const String name = u"KIVORegistrationEdge";
  TEntryCleanup cleanup(name);
  const String root = ScratchDir(u"UninstallRegistration-edge");
  const struct {
    const char* Name;
    bool ReadOnlyEarlierFiles;
  } cases[] = {{"no components: the folder is made here", false}, {"read-only earlier uninstaller", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const String dest = root + (c.ReadOnlyEarlierFiles ? u"\\readonly" : u"\\empty");
    if (c.ReadOnlyEarlierFiles) {
      ::CreateDirectoryW(zel::as_wcstr(dest), nullptr);
      for (const String& file : {dest + u"\\Uninstall.exe", dest + u"\\Uninstall.dat"}) {
        WriteAll(file, Bytes("from an earlier installation"));
        ::SetFileAttributesW(zel::as_wcstr(file), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
      }
    }
    TTestInstallerEnvironment environment(
        {{u"Install.xml", ScriptFor(zel::ToUtf8(name), "")}, {u"English.lng", DefaultEnglishLng()}}, {});
    TestProduct.Actions = {ActionClassOf<TInstallerActionExtract>()};
    TInstaller installer(u"/AUTO=" + dest + u" /SILENT");
    RunExtract(installer);
    ASSERT_FALSE(installer.HasErrors()) << zel::ToUtf8(installer.Errors()[0]);
    EXPECT_EQ(ReadAll(dest + u"\\Uninstall.exe"), ReadAll(zel::ModuleFileName()));
    TSetupPackageReader data(dest + u"\\Uninstall.dat");
    EXPECT_TRUE(data.ContainsFile(u"Uninstall.ini"));
  }
}
