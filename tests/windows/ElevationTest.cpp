#include "core/Elevation.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "HelperProcess.h"
#include "TestSupport.h"
#include "core/SpawnService.h"
#include "library/Exceptions.h"
#include "library/win/MessageWait.h"

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
  EXPECT_TRUE(zel::EndsWithText(OwnFileName(), u"\\windows_tests.exe"));
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

TEST(ElevationTest, CopyToTempReplacesAnEarlierCopy) {
  const String dir = test::ScratchDir(u"elevation-totemp");
  const String source = dir + u"\\kivo-copytotemp-probe.dat";
  const String expected = TempFolder() + u"kivo-copytotemp-probe.dat";
  for (const char* contents : {"first run", "second run, longer"}) {
    test::WriteAll(source, test::Bytes(contents));
    const String copy = CopyToTemp(source);
    EXPECT_TRUE(zel::SameText(expected, copy)) << zel::ToUtf8(copy);
    EXPECT_EQ(contents, ReadText(copy));
  }
  ::DeleteFileW(zel::as_wcstr(expected));
}

// The files that SafeDeleteFile has moved away: "del*.tmp" in the temporary folder.
std::set<String> MovedAway() {
  std::set<String> names;
  WIN32_FIND_DATAW data;
  zel::TFindHandle find(::FindFirstFileW(zel::as_wcstr(TempFolder() + u"del*.tmp"), &data));
  if (find) do {
      names.insert(TempFolder() + zel::from_wcstr(data.cFileName));
    } while (::FindNextFileW(find.Get(), &data));
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
      {"read-only hidden system", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
       0xFFFFFFFF, Deleted},
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
      holder.Reset(::CreateFileW(zel::as_wcstr(path), GENERIC_READ, c.HolderShare, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
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
    SetShellOpenHook([this](zel::StringView file, zel::StringView params) {
      FOpened.emplace_back(String(file), String(params));
    });
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
  const std::string expected =
      zel::ToUtf8(u"/SKIPUAC=" + TInstallerSpawnService::WindowToText(TInstallerSpawnService::TargetWindow()) +
                  u" " + params);
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

TEST_F(ElevationRelayTest, UninstallerHandsOverToACopyInTheTemporaryFolder) {
  const String dir = test::ScratchDir(u"elevation-uninstaller") + u"\\KIVO";
  ASSERT_TRUE(::CreateDirectoryW(zel::as_wcstr(dir), nullptr));
  const String uninstaller = dir + u"\\Uninstall.exe";
  test::WriteAll(uninstaller, test::Bytes("program"));
  test::WriteAll(dir + u"\\Uninstall.dat", test::Bytes("data"));
  // A copy left over from an earlier run.
  const String temp = TempFolder();
  test::WriteAll(temp + u"Uninstall.exe", test::Bytes("stale"));

  const String before = CurrentFolder();
  RunUninstallerFromTemp(uninstaller, u"/SKIPUAC=0 /AUTO");
  const String after = CurrentFolder();
  ::SetCurrentDirectoryW(zel::as_wcstr(before));

  EXPECT_TRUE(zel::SameText(zel::ExcludeTrailingBackslash(temp), zel::ExcludeTrailingBackslash(after)));
  EXPECT_EQ("program", ReadText(temp + u"Uninstall.exe"));
  EXPECT_EQ("data", ReadText(temp + u"Uninstall.dat"));
  ASSERT_EQ(1u, FOpened.size());
  EXPECT_TRUE(zel::SameText(temp + u"Uninstall.exe", FOpened[0].first)) << zel::ToUtf8(FOpened[0].first);
  EXPECT_EQ(u"/PATH=\"" + dir + u"\\\" /SKIPUAC=0 /AUTO", FOpened[0].second);
  ::DeleteFileW(zel::as_wcstr(temp + u"Uninstall.exe"));
  ::DeleteFileW(zel::as_wcstr(temp + u"Uninstall.dat"));
}

}  // namespace
}  // namespace kivo
