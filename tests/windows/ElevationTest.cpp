#include "library/win/FileSystem.h"
#include "core/Elevation.h"
#include "core/FileOperations.h"
#include "core/ProgramRun.h"
#include "core/UninstallerCopy.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <string>

#include "HelperProcess.h"
#include "TestSupport.h"
#include "package/InstallerErrors.h"
#include "core/SpawnService.h"
#include "library/Exceptions.h"
#include "library/win/MessageWait.h"
#include "package/win/InstallerResources.h"

namespace kivo {
namespace {

using zel::String;

String TempFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  wchar_t longBuffer[MAX_PATH + 1];
  const DWORD m = ::GetLongPathNameW(buffer, longBuffer, MAX_PATH + 1);
  return zel::IncludeTrailingBackslash(m ? zel::from_wcstr(longBuffer, m) : zel::from_wcstr(buffer, n));
}

String CurrentFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = ::GetCurrentDirectoryW(MAX_PATH + 1, buffer);
  return zel::from_wcstr(buffer, n);
}

std::string ReadText(zel::StringView path) {
  const auto bytes = test::ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(ElevationTest, UninstallerIsRecognisedByFileName) {
  const std::pair<const char16_t*, bool> cases[] = {
      {u"C:\\Program Files\\KIVO\\Uninstall.exe", true},
      {u"C:\\Program Files\\KIVO\\UNINSTALL.EXE", true},
      {u"uNiNsTaLl.ExE", true},
      {u"C:\\Uninstall.exe\\Setup.exe", false},
      {u"C:\\KIVO\\Uninstall.exe.bak", false},
      {u"C:\\KIVO\\MyUninstall.exe", false},
      {u"C:\\KIVO\\Uninstall.dat", false},
      {u"", false},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(expected, IsUninstallerFileName(name)) << zel::ToUtf8(name);
  EXPECT_TRUE(zel::EndsWithText(zel::ModuleFileName(), u"\\windows_tests.exe"));
  EXPECT_FALSE(IsUninstaller());
}

TEST(ElevationTest, CopyFileOrRaiseReplacesTargetsAndNamesBothPathsOnFailure) {
  const String dir = test::ScratchDir(u"elevation-copy");
  const String source = dir + u"\\source.bin";
  const String target = dir + u"\\target.bin";
  test::WriteAll(source, test::Bytes("new contents"));
  test::WriteAll(target, test::Bytes("old"));
  CopyFileOrRaise(source, target);
  EXPECT_EQ("new contents", ReadText(target));

  const String missing = dir + u"\\missing.bin";
  try {
    CopyFileOrRaise(missing, target);
    FAIL() << "no exception";
  } catch (const zel::EOSError& e) {
    EXPECT_EQ(2u, e.ErrorCode());  // ERROR_FILE_NOT_FOUND
    EXPECT_TRUE(zel::StartsWith(e.Message(), u"System Error.  Code: 2.\r\n")) << e.what();
    EXPECT_TRUE(zel::EndsWithText(e.Message(), missing + u" -> " + target)) << e.what();
  }
  EXPECT_EQ("new contents", ReadText(target));
}

TEST(ElevationTest, PrivateTempFoldersAreNewEachTimeAndRecognised) {
  const String first = CreatePrivateTempFolder();
  const String second = CreatePrivateTempFolder();
  EXPECT_NE(first, second);
  for (const String& folder : {first, second}) {
    EXPECT_TRUE(zel::StartsWithText(folder, TempFolder() + u"KIVO Uninstall ")) << zel::ToUtf8(folder);
    EXPECT_EQ(u'\\', folder.back());
    EXPECT_TRUE(test::FileExists(folder));
    EXPECT_TRUE(IsTempCopyFolder(folder));
  }
  EXPECT_TRUE(IsTempCopyFolder(TempFolder()));
  EXPECT_TRUE(IsTempCopyFolder(zel::ExcludeTrailingBackslash(TempFolder())));
  EXPECT_FALSE(IsTempCopyFolder(TempFolder() + u"Other\\"));
  EXPECT_FALSE(IsTempCopyFolder(first + u"KIVO Uninstall 00\\")) << "only folders right under the temporary folder";
  EXPECT_FALSE(IsTempCopyFolder(u"C:\\KIVO\\"));

  // A copy replaces an earlier one of the same name in that folder.
  const String dir = test::ScratchDir(u"elevation-totemp");
  const String source = dir + u"\\kivo-copytotemp-probe.dat";
  for (const char* contents : {"first run", "second run, longer"}) {
    test::WriteAll(source, test::Bytes(contents));
    const String copy = CopyToTemp(source, first);
    EXPECT_EQ(first + u"kivo-copytotemp-probe.dat", copy);
    EXPECT_EQ(contents, ReadText(copy));
  }
  ::DeleteFileW(zel::as_wcstr(first + u"kivo-copytotemp-probe.dat"));
  EXPECT_TRUE(::RemoveDirectoryW(zel::as_wcstr(first)));
  EXPECT_TRUE(::RemoveDirectoryW(zel::as_wcstr(second)));
}

// The files that SafeDeleteFile has moved away: "delete *" in the private folders
// "KIVO Setup *" of the system's temporary folder (of the user's, unelevated).
std::set<String> MovedAway() {
  wchar_t windows[MAX_PATH];
  const UINT n = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const String temp =
      ::IsUserAnAdmin() ? zel::IncludeTrailingBackslash(zel::from_wcstr(windows, n)) + u"Temp\\" : TempFolder();
  std::set<String> names;
  WIN32_FIND_DATAW folder, data;
  zel::TFindHandle folders(::FindFirstFileW(zel::as_wcstr(temp + u"KIVO Setup *"), &folder));
  if (folders) do {
      const String inside = temp + zel::from_wcstr(folder.cFileName) + u"\\";
      zel::TFindHandle find(::FindFirstFileW(zel::as_wcstr(inside + u"delete *"), &data));
      if (find) do {
          names.insert(inside + zel::from_wcstr(data.cFileName));
        } while (::FindNextFileW(find.Get(), &data));
    } while (::FindNextFileW(folders.Get(), &folder));
  return names;
}

TEST(ElevationTest, SafeDeleteFileRemovesWhatItCanAndNeverFails) {
  const String dir = test::ScratchDir(u"elevation-delete");
  enum TOutcome { Deleted, Stays };
  struct TCase {
    const char* Name;
    DWORD Attributes;   // set before deleting
    DWORD HolderShare;  // 0xFFFFFFFF: nobody holds the file open
    TOutcome Outcome;
  };
  const TCase cases[] = {
      {"plain", FILE_ATTRIBUTE_NORMAL, 0xFFFFFFFF, Deleted},
      {"read-only hidden system", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 0xFFFFFFFF,
       Deleted},
      {"held, delete shared", FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, Deleted},
      // Neither deleted nor renamed: a holder without delete sharing blocks both.
      {"held, not delete shared", FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, Stays},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const String path = dir + u"\\" + zel::FromUtf8(c.Name) + u".txt";
    test::WriteAll(path, test::Bytes("x"));
    ::SetFileAttributesW(zel::as_wcstr(path), c.Attributes);
    zel::TFileHandle holder;
    if (c.HolderShare != 0xFFFFFFFF)
      holder.Reset(::CreateFileW(zel::as_wcstr(path), GENERIC_READ, c.HolderShare, nullptr, OPEN_EXISTING, 0, nullptr));
    const auto before = MovedAway();
    bool gone = false;
    EXPECT_NO_THROW(gone = SafeDeleteFile(path));
    holder.Reset();
    EXPECT_EQ(c.Outcome == Deleted, gone);
    EXPECT_EQ(c.Outcome == Deleted, !test::FileExists(path));
    EXPECT_EQ(before, MovedAway());  // deleted in place, not moved
  }
  EXPECT_TRUE(SafeDeleteFile(dir + u"\\never-existed.txt"));
}

TEST(ElevationTest, SafeDeleteFileMovesALoadedLibraryAway) {
  const String dir = test::ScratchDir(u"elevation-delete-loaded");
  const String library = dir + u"\\loaded_probe.dll";
  CopyFileOrRaise(test::HelperPath(u"unreg_probe.dll"), library);
  zel::TModuleHandle module(::LoadLibraryW(zel::as_wcstr(library)));
  ASSERT_TRUE(module);
  if (::DeleteFileW(zel::as_wcstr(library))) GTEST_SKIP() << "this platform deletes loaded libraries";
  // It cannot be deleted while loaded, but it can leave the folder for a "delete" name.
  const auto before = MovedAway();
  EXPECT_TRUE(SafeDeleteFile(library));
  EXPECT_FALSE(test::FileExists(library));
  EXPECT_TRUE(::RemoveDirectoryW(zel::as_wcstr(dir)));
  const auto after = MovedAway();
  ASSERT_EQ(before.size() + 1, after.size());
  module.Reset();
  for (const String& name : after) {
    if (!before.count(name)) {
      EXPECT_TRUE(::DeleteFileW(zel::as_wcstr(name)));
    }
  }
}

TEST(ElevationTest, RunAndWaitWaitsForTheEndOfAConsoleProgram) {
  const String dir = test::ScratchDir(u"elevation-runandwait");
  const String marker = dir + u"\\ran.txt";
  const String command = test::Quoted(test::HelperPath(u"probe_child.exe")) + u" --sleep=300 --marker=" + marker;
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_TRUE(RunAndWait(command));
  EXPECT_GE(::GetTickCount64() - start, 290u);
  EXPECT_TRUE(test::FileExists(marker));  // written at the very end of the child's life

  EXPECT_FALSE(RunAndWait(test::Quoted(dir + u"\\no-such-program.exe") + u" --x"));
  EXPECT_FALSE(RunAndWait(u""));
}

TEST(ElevationTest, UnregisterCallsTheLibraryAndPassesOverMissingOnes) {
  const String dir = test::ScratchDir(u"elevation-unregister");
  const String library = dir + u"\\unreg_probe.dll";
  CopyFileOrRaise(test::HelperPath(u"unreg_probe.dll"), library);
  const String before = CurrentFolder();
  TInstallerActiveX::Unregister(library);
  EXPECT_TRUE(test::FileExists(dir + u"\\unregistered.marker"));
  EXPECT_EQ(before, CurrentFolder());

  // No such library, and a library without the export.
  EXPECT_NO_THROW(TInstallerActiveX::Unregister(dir + u"\\missing.dll"));
  EXPECT_NO_THROW(TInstallerActiveX::Unregister(test::HelperPath(u"probe_child.exe")));
  EXPECT_NO_THROW(TInstallerActiveX::Unregister(u"version.dll"));
  EXPECT_EQ(before, CurrentFolder());
}

class ElevationRelayTest : public ::testing::Test {
protected:
  void SetUp() override {
    TInstallerSpawnService::Finalize();
    SetShellOpenHook(
        [this](zel::StringView file, zel::StringView params) { FOpened.emplace_back(String(file), String(params)); });
  }
  void TearDown() override {
    TInstallerSpawnService::Finalize();
    SetShellOpenHook(nullptr);
  }
  std::vector<std::pair<String, String>> FOpened;
};

TEST_F(ElevationRelayTest, RunElevatedPassesTheServerWindowAndReturnsTheExitCode) {
  const String dir = test::ScratchDir(u"elevation-runas");
  const String marker = dir + u"\\cmdline.txt";
  const String params = u"/AUTO /LOG --marker=" + marker + u" --sleep=200 --exit=7";
  uint32_t exitCode = 0;
  ASSERT_TRUE(RunElevatedFile(test::HelperPath(u"probe_child.exe"), params, &exitCode));
  EXPECT_EQ(7u, exitCode);
  ASSERT_TRUE(TInstallerSpawnService::IsServer());
  const std::string expected = zel::ToUtf8(
      u"/SKIPUAC=" + TInstallerSpawnService::WindowToText(TInstallerSpawnService::TargetWindow()) + u" " + params);
  const std::string line = ReadText(marker);
  ASSERT_GE(line.size(), expected.size()) << line;
  EXPECT_EQ(expected, line.substr(line.size() - expected.size())) << line;
}

TEST_F(ElevationRelayTest, RunElevatedServesSpawnRequestsWhileWaiting) {
  // spawn_client plays the elevated copy: it reads "/SKIPUAC=<window>" and asks us to open a file.
  const String command = u"C:\\Program Files\\KIVO\\KIVO.exe";
  uint32_t exitCode = 99;
  ASSERT_TRUE(RunElevatedFile(test::HelperPath(u"spawn_client.exe"), test::Quoted(command), &exitCode));
  EXPECT_EQ(0u, exitCode);
  ASSERT_EQ(1u, FOpened.size());
  EXPECT_EQ(command, FOpened[0].first);
  EXPECT_EQ(u"", FOpened[0].second);
}

TEST_F(ElevationRelayTest, RunElevatedRaisesWhenTheProgramCannotStart) {
  try {
    RunElevatedFile(test::ScratchDir(u"elevation-runas-missing") + u"\\missing.exe", u"");
    FAIL() << "no exception";
  } catch (const zel::EOSError& e) {
    EXPECT_NE(1223u, e.ErrorCode());
    EXPECT_TRUE(zel::StartsWith(e.Message(), u"System Error.  Code: ")) << e.what();
  }
}

// An installation folder whose "Uninstall.exe" is the probe program: the copy that the
// relay starts writes its command line to a marker and ends with the exit code asked for.
struct TProbeInstallation {
  TProbeInstallation(zel::StringView name) : Folder(test::ScratchDir(name) + u"\\KIVO\\") {
    ::CreateDirectoryW(zel::as_wcstr(Folder), nullptr);
    CopyFileOrRaise(test::HelperPath(u"probe_child.exe"), Uninstaller());
    test::WriteAll(Folder + u"Uninstall.dat", test::Bytes("data"));
  }
  String Uninstaller() const { return Folder + u"Uninstall.exe"; }
  String Folder;
};

std::set<String> PrivateFolders() {
  std::set<String> names;
  WIN32_FIND_DATAW data;
  zel::TFindHandle find(::FindFirstFileW(zel::as_wcstr(TempFolder() + u"KIVO Uninstall *"), &data));
  if (find) do {
      names.insert(zel::from_wcstr(data.cFileName));
    } while (::FindNextFileW(find.Get(), &data));
  return names;
}

TEST_F(ElevationRelayTest, UninstallerRelayWaitsForItsCopyAndEndsWithItsExitCode) {
  const TProbeInstallation installation(u"elevation-uninstaller");
  const String marker = test::ScratchDir(u"elevation-uninstaller-marker") + u"\\cmdline.txt";
  const auto before = PrivateFolders();
  const String current = CurrentFolder();

  const uint32_t exitCode =
      RunUninstallerFromTemp(installation.Uninstaller(), u"/AUTO --sleep=300 --exit=1603 --marker=" + marker);
  const String after = CurrentFolder();
  ::SetCurrentDirectoryW(zel::as_wcstr(current));

  EXPECT_EQ(1603u, exitCode) << "the copy's exit code, not an early 0";
  // The copy ran from a folder of its own, by its absolute, quoted path, with our folder.
  const std::string line = ReadText(marker);
  const std::string prefix = zel::ToUtf8(u"\"" + TempFolder() + u"KIVO Uninstall ");
  EXPECT_EQ(prefix, line.substr(0, prefix.size())) << line;
  const std::string rest = zel::ToUtf8(u"\\Uninstall.exe\" /PATH=\"" + installation.Folder +
                                       u"\" /AUTO --sleep=300 --exit=1603 --marker=" + marker);
  ASSERT_GE(line.size(), rest.size());
  EXPECT_EQ(rest, line.substr(line.size() - rest.size())) << line;
  // Not in the installation folder any more, and the private folder is gone with its files.
  EXPECT_FALSE(zel::SameText(zel::IncludeTrailingBackslash(after), installation.Folder));
  EXPECT_EQ(before, PrivateFolders());
  EXPECT_TRUE(FOpened.empty()) << "started directly, not through the shell";
}

TEST_F(ElevationRelayTest, UninstallerRelayRaisesWhenItsDataFileIsMissing) {
  const TProbeInstallation installation(u"elevation-uninstaller-nodat");
  ::DeleteFileW(zel::as_wcstr(installation.Folder + u"Uninstall.dat"));
  const String current = CurrentFolder();
  EXPECT_THROW(RunUninstallerFromTemp(installation.Uninstaller(), u"/AUTO"), zel::EOSError);
  ::SetCurrentDirectoryW(zel::as_wcstr(current));
}

// A program of the user that watches the temporary folder cannot put its own bytes in
// place of the copy: the relay either starts the real copy or refuses to start anything.
TEST_F(ElevationRelayTest, AWatcherOfTheTemporaryFolderCannotSwapTheCopy) {
  const TProbeInstallation installation(u"elevation-uninstaller-swap");
  const String work = test::ScratchDir(u"elevation-uninstaller-swap-work");
  const String report = work + u"\\report.txt";
  zel::THandle swapper =
      test::StartProcess(test::Quoted(test::HelperPath(u"temp_swapper.exe")) + u" " +
                         test::Quoted(zel::ExcludeTrailingBackslash(TempFolder())) + u" 6000 " + test::Quoted(report));
  ASSERT_TRUE(swapper);
  ::Sleep(300);  // let it watch
  const String current = CurrentFolder();
  int started = 0;
  for (int run = 0; run < 5; ++run) {
    SCOPED_TRACE(run);
    const String marker = work + u"\\run" + zel::IntToStr(run) + u".txt";
    try {
      EXPECT_EQ(7u,
                RunUninstallerFromTemp(installation.Uninstaller(), u"--sleep=500 --exit=7 --dat --marker=" + marker));
      const std::string seen = ReadText(marker);
      EXPECT_TRUE(seen.size() > 5 && seen.substr(seen.size() - 5) == "\ndata")
          << "the real copy ran, on the real data: " << seen;
      ++started;
    } catch (const EInstallerMysteryError& e) {
      // The swap landed in the moment before the copy was held, and was seen.
      EXPECT_TRUE(zel::EndsWithText(e.Message(), u"was changed by another program")) << zel::ToUtf8(e.Message());
    }
  }
  ::SetCurrentDirectoryW(zel::as_wcstr(current));
  ASSERT_TRUE(zel::WaitServingMessages(swapper.Get(), 30000, 100));
  EXPECT_GT(started, 0);
  // It did attack while the copies were held, and was refused; what it managed after a
  // copy had ended (the files are released for removal then) changes nothing.
  const std::string attempts = ReadText(report);
  std::cout << "swapper report:\n" << attempts;
  const size_t refused = attempts.rfind("refused ");
  ASSERT_NE(std::string::npos, refused) << attempts;
  EXPECT_GT(std::stoul(attempts.substr(refused + 8)), 0u) << attempts;
}

TEST(ElevationTest, TheRunningRelayCanStillBeRemovedByItsCopy) {
  // The relay waits for its copy, so the installed Uninstall.exe is in use while the
  // copy removes the installation: SafeDeleteFile must get it out of the folder.
  const TProbeInstallation installation(u"elevation-running-relay");
  zel::THandle running = test::StartProcess(test::Quoted(installation.Uninstaller()) + u" --sleep=3000");
  ASSERT_TRUE(running);
  ::Sleep(300);
  // Windows and Wine 8 alike refuse to delete a running program but let it be renamed:
  // it is moved to a "delete" name in the temporary folder and deleted at the next
  // restart (seen under Wine: "moved aside while running").
  const auto before = MovedAway();
  EXPECT_TRUE(SafeDeleteFile(installation.Uninstaller()));
  const bool moved = MovedAway().size() == before.size() + 1;
  std::cout << (moved ? "moved aside while running\n" : "deleted in place while running\n");
  EXPECT_FALSE(test::FileExists(installation.Uninstaller()));
  ::DeleteFileW(zel::as_wcstr(installation.Folder + u"Uninstall.dat"));
  EXPECT_TRUE(::RemoveDirectoryW(zel::as_wcstr(installation.Folder)));
  EXPECT_TRUE(zel::WaitServingMessages(running.Get(), 10000, 100));
}

}  // namespace
}  // namespace kivo
