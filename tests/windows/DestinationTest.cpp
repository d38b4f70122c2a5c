// The destination as one value, and the folders that a run may never take.
#include "core/Destination.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "TestInstaller.h"
#include "TestSupport.h"
#include "package/InstallerErrors.h"
#include "library/win/Handles.h"

using namespace kivo;
using zel::String;

namespace {

String CurrentFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = ::GetCurrentDirectoryW(MAX_PATH + 1, buffer);
  return zel::IncludeTrailingBackslash(zel::from_wcstr(buffer, n));
}

String Known(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path);
  const String folder = zel::from_wcstr(path);
  ::CoTaskMemFree(path);
  return folder;
}

String Special(int csidl) {
  wchar_t buffer[MAX_PATH];
  ::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT, buffer);
  return zel::from_wcstr(buffer);
}

TEST(DestinationTest, EverySpellingGivesOneCleanAbsoluteFolder) {
  const String here = CurrentFolder();
  const struct {
    String Given, Expected;
  } cases[] = {
      {u"C:/Apps/KIVO", u"C:\\Apps\\KIVO\\"},
      {u"C:/KIVO", u"C:\\KIVO\\"},
      {u"C:\\\\KIVO", u"C:\\KIVO\\"},
      {u"C:\\Apps\\\\\\KIVO\\\\", u"C:\\Apps\\KIVO\\"},
      {u"C:\\q\"x", u"C:\\q'x\\"},
      {u"C:\\K<I>V|O?", u"C:\\KIVO\\"},
      {u"C:\\KIVO. \\Sub ", u"C:\\KIVO\\Sub\\"},
      {u"C:\\Apps\\..\\KIVO\\.\\", u"C:\\KIVO\\"},
      {u"  C:\\KIVO  ", u"C:\\KIVO\\"},
      {u"C:\\$NAME", u"C:\\$NAME\\"},  // a destination is never expanded
      {u"C:\\new\\KIVO", u"C:\\new\\KIVO\\"},
      {u"relKIVO", here + u"relKIVO\\"},
      {u"\\\\server\\share\\KIVO", u"\\\\server\\share\\KIVO\\"},
      {u"", u""},
      {u"   ", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.Expected, NormalizeDestPath(c.Given)) << zel::ToUtf8(c.Given);
    // Once normalised, always normalised.
    EXPECT_EQ(c.Expected, NormalizeDestPath(c.Expected)) << zel::ToUtf8(c.Given);
  }
  const String deep = u"C:\\" + zel::Join(std::vector<String>(30, u"Folder-With-A-Long-Name"), u"\\");
  EXPECT_EQ(deep + u"\\", NormalizeDestPath(deep));
}

TEST(DestinationTest, SystemFoldersAndTheirParentsAreRefused) {
  wchar_t windows[MAX_PATH];
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  const String windowsFolder = zel::from_wcstr(windows);
  const String profile = Special(CSIDL_PROFILE);
  const String refused[] = {
      u"C:\\",
      u"D:\\",
      u"\\\\server\\share\\",
      u"\\\\server\\",
      windowsFolder + u"\\",
      zel::UpperCase(windowsFolder) + u"\\SYSTEM32\\",
      windowsFolder + u"\\SysWOW64\\KIVO\\",
      Special(CSIDL_PROGRAM_FILES) + u"\\",
      Special(CSIDL_PROGRAM_FILESX86) + u"\\",
      Special(CSIDL_PROGRAM_FILES_COMMON) + u"\\",
      profile + u"\\",
      zel::ExtractFilePath(profile),  // the user's profile and the profiles root
      Special(CSIDL_DESKTOPDIRECTORY) + u"\\",
      Special(CSIDL_COMMON_DESKTOPDIRECTORY) + u"\\",
      Special(CSIDL_PERSONAL) + u"\\",
      Special(CSIDL_APPDATA) + u"\\",
      Special(CSIDL_LOCAL_APPDATA) + u"\\",
      Special(CSIDL_COMMON_APPDATA) + u"\\",
      Special(CSIDL_STARTMENU) + u"\\",
      profile + u"\\AppData\\",  // holds the application data folders
      // The user's and the public media, download and document folders.
      Special(CSIDL_MYMUSIC) + u"\\",
      Special(CSIDL_MYPICTURES) + u"\\",
      Special(CSIDL_MYVIDEO) + u"\\",
      Special(CSIDL_COMMON_MUSIC) + u"\\",
      Special(CSIDL_COMMON_PICTURES) + u"\\",
      Special(CSIDL_COMMON_VIDEO) + u"\\",
      Special(CSIDL_COMMON_DOCUMENTS) + u"\\",
      Known(FOLDERID_Downloads) + u"\\",
      Known(FOLDERID_Public) + u"\\",
  };
  for (const String& folder : refused) {
    String reason;
    EXPECT_TRUE(IsRefusedDestination(NormalizeDestPath(folder), reason)) << zel::ToUtf8(folder);
    EXPECT_FALSE(reason.empty()) << zel::ToUtf8(folder);
  }
  const String allowed[] = {
      u"C:\\KIVO\\",
      u"D:\\Apps\\KIVO\\",
      windowsFolder + u"2\\KIVO\\",
      u"\\\\server\\share\\KIVO\\",
      Special(CSIDL_PROGRAM_FILESX86) + u"\\KIVO\\",
      Special(CSIDL_PROGRAM_FILES) + u"\\Vendor\\KIVO\\",
      Special(CSIDL_DESKTOPDIRECTORY) + u"\\KIVO\\",
      profile + u"\\KIVO Portable\\",
  };
  for (const String& folder : allowed) {
    String reason;
    EXPECT_FALSE(IsRefusedDestination(NormalizeDestPath(folder), reason))
        << zel::ToUtf8(folder) << ": " << zel::ToUtf8(reason);
  }
}

TEST(DestinationTest, TheInstallerTakesOnlyANormalisedAllowedDestination) {
  test::TTestInstallerEnvironment environment;
  {
    TInstaller installer(u"/AUTO=C:/Apps//KIVO /SILENT");
    EXPECT_EQ(u"C:\\Apps\\KIVO\\", installer.DestPath());
    EXPECT_EQ(u"C:\\Apps\\KIVO\\", installer.Resources().ExpandPath(u"$DEST"));
    // The wizard's setup page gets the same refusal; the destination stays as it was.
    EXPECT_THROW(installer.SetDestPath(u"C:\\"), EInstallerInstallError);
    EXPECT_EQ(u"C:\\Apps\\KIVO\\", installer.DestPath());
  }
  for (const char16_t* params : {u"/AUTO=C:\\ /SILENT", u"/AUTO=C:\\Windows\\System32 /SILENT"}) {
    try {
      TInstaller installer(params);
      ADD_FAILURE() << "accepted " << zel::ToUtf8(params);
    } catch (const EInstallerInstallError& e) {
      EXPECT_TRUE(zel::StartsWith(e.Message(), u"The folder \"C:\\")) << zel::ToUtf8(e.Message());
      EXPECT_NE(String::npos, e.Message().find(u"cannot be used by the setup")) << zel::ToUtf8(e.Message());
    }
    EXPECT_EQ(nullptr, Installer);
  }
}

TEST(DestinationTest, AnotherAccountsProfileIsRefusedWithAllItHolds) {
  // An account of the test's own in "ProfileList", its profile outside the profiles root.
  const String base = test::ScratchDir(u"Destination-accounts");
  const String other = u"C:\\kivo-test-accounts\\bob";
  ::CreateDirectoryW(zel::as_wcstr(String(u"C:\\kivo-test-accounts")), nullptr);
  ::CreateDirectoryW(zel::as_wcstr(other), nullptr);
  const String key = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-77-77-77-3001";
  HKEY entry = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, zel::as_wcstr(key), 0, nullptr, 0,
                                             KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &entry, nullptr));
  ::RegSetValueExW(entry, L"ProfileImagePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                   static_cast<DWORD>((other.size() + 1) * 2));
  ::RegCloseKey(entry);
  struct TRemoveEntry {
    String Key;
    ~TRemoveEntry() {
      ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, zel::as_wcstr(Key), KEY_WOW64_32KEY, 0);
      ::RemoveDirectoryW(L"C:\\kivo-test-accounts\\bob");
      ::RemoveDirectoryW(L"C:\\kivo-test-accounts");
    }
  } remove{key};

  using TKind = TRefusedDestination::TKind;
  const struct {
    String Folder;
    TKind Kind;
  } cases[] = {
      {other + u"\\", TKind::OtherProfile},
      {other + u"\\Music\\", TKind::OtherProfile},
      {other + u"\\Documents\\Work\\", TKind::OtherProfile},
      {u"C:\\KIVO-TEST-ACCOUNTS\\", TKind::OtherProfile},  // holds it
      {u"C:\\kivo-test-accounts\\bob2\\", TKind::None},
      {u"C:\\kivo-test-accounts\\KIVO\\", TKind::None},
      {base + u"\\KIVO\\", TKind::None},  // in the running account's own profile
  };
  for (const auto& c : cases) {
    const TRefusedDestination refused = RefusedDestination(NormalizeDestPath(c.Folder));
    EXPECT_EQ(c.Kind, refused.Kind) << zel::ToUtf8(c.Folder) << ": " << zel::ToUtf8(refused.Reason());
    if (c.Kind == TKind::OtherProfile) EXPECT_TRUE(zel::SameText(other, refused.HeldFolder));
  }
  String reason;
  EXPECT_TRUE(IsRefusedDestination(other + u"\\", reason));
  EXPECT_EQ(u"it is in the profile of another account (\"" + other + u"\")", reason);
}

}  // namespace
