// The destination as one value, and the folders that a run may never take.
#include "core/Destination.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include "TestInstaller.h"
#include "core/InstallerErrors.h"
#include "library/win/Handles.h"

using namespace kivo;
using zel::String;

namespace {

String CurrentFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = ::GetCurrentDirectoryW(MAX_PATH + 1, buffer);
  return zel::IncludeTrailingBackslash(zel::from_wcstr(buffer, n));
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
      u"C:\\", u"D:\\", u"\\\\server\\share\\", u"\\\\server\\",
      windowsFolder + u"\\", zel::UpperCase(windowsFolder) + u"\\SYSTEM32\\", windowsFolder + u"\\SysWOW64\\KIVO\\",
      Special(CSIDL_PROGRAM_FILES) + u"\\", Special(CSIDL_PROGRAM_FILESX86) + u"\\",
      Special(CSIDL_PROGRAM_FILES_COMMON) + u"\\",
      profile + u"\\", zel::ExtractFilePath(profile),  // the user's profile and the profiles root
      Special(CSIDL_DESKTOPDIRECTORY) + u"\\", Special(CSIDL_COMMON_DESKTOPDIRECTORY) + u"\\",
      Special(CSIDL_PERSONAL) + u"\\", Special(CSIDL_APPDATA) + u"\\", Special(CSIDL_LOCAL_APPDATA) + u"\\",
      Special(CSIDL_COMMON_APPDATA) + u"\\", Special(CSIDL_STARTMENU) + u"\\",
      profile + u"\\AppData\\",  // holds the application data folders
  };
  for (const String& folder : refused) {
    String reason;
    EXPECT_TRUE(IsRefusedDestination(NormalizeDestPath(folder), reason)) << zel::ToUtf8(folder);
    EXPECT_FALSE(reason.empty()) << zel::ToUtf8(folder);
  }
  const String allowed[] = {
      u"C:\\KIVO\\", u"D:\\Apps\\KIVO\\", windowsFolder + u"2\\KIVO\\", u"\\\\server\\share\\KIVO\\",
      Special(CSIDL_PROGRAM_FILESX86) + u"\\KIVO\\", Special(CSIDL_PROGRAM_FILES) + u"\\Vendor\\KIVO\\",
      Special(CSIDL_DESKTOPDIRECTORY) + u"\\KIVO\\", profile + u"\\KIVO Portable\\",
  };
  for (const String& folder : allowed) {
    String reason;
    EXPECT_FALSE(IsRefusedDestination(NormalizeDestPath(folder), reason)) << zel::ToUtf8(folder) << ": "
                                                                            << zel::ToUtf8(reason);
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

}  // namespace
