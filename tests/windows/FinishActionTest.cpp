// A finish action really starts the product: with no test hook in the way, "start the
// player" opens the installed KIVO.exe and its main window comes up.
#include <gtest/gtest.h>

#include <windows.h>

#include "TestInstaller.h"
#include "TestSupport.h"
#include "library/win/FileSystem.h"
#include "core/SpawnService.h"
#include "library/win/Handles.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

constexpr DWORD kWindowTimeout = 10000;

String FullPathOf(const String& path) {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD n = ::GetFullPathNameW(zel::as_wcstr(path), MAX_PATH * 4, buffer, nullptr);
  String full = n > 0 && n < MAX_PATH * 4 ? zel::from_wcstr(buffer, n) : path;
  const DWORD m = ::GetLongPathNameW(zel::as_wcstr(full), buffer, MAX_PATH * 4);
  return m > 0 && m < MAX_PATH * 4 ? zel::from_wcstr(buffer, m) : full;
}

// The stand-in player that the build puts into the sample product.
String BuiltPlayer() { return FullPathOf(zel::ExtractFilePath(zel::ModuleFileName()) + u"..\\sample\\KIVO.exe"); }

String ImageOf(DWORD processId) {
  zel::THandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  wchar_t buffer[MAX_PATH * 4];
  DWORD size = MAX_PATH * 4;
  if (!::QueryFullProcessImageNameW(process.Get(), 0, buffer, &size)) return {};
  return FullPathOf(zel::from_wcstr(buffer, size));
}

struct TFoundWindow {
  HWND Window = nullptr;
  DWORD ProcessId = 0;
};

// A visible top-level window of the player's class whose process runs that image.
TFoundWindow FindPlayerWindow(const String& image) {
  struct TSearch {
    const String* Image;
    TFoundWindow Found;
  } search{&image, {}};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<TSearch*>(param);
        wchar_t name[64];
        const int n = ::GetClassNameW(window, name, 64);
        if (!::IsWindowVisible(window) || n <= 0 || zel::from_wcstr(name, n) != u"TKIVOMainForm") return TRUE;
        DWORD processId = 0;
        ::GetWindowThreadProcessId(window, &processId);
        if (!zel::SameText(ImageOf(processId), *s->Image)) return TRUE;
        s->Found = {window, processId};
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

TFoundWindow WaitForPlayerWindow(const String& image, DWORD timeout) {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    const TFoundWindow found = FindPlayerWindow(image);
    if (found.Window || ::GetTickCount64() - start >= timeout) return found;
    ::Sleep(100);
  }
}

}  // namespace

TEST(FinishActionTest, StartingTheProductOpensThePlayerWindow) {
  const String built = BuiltPlayer();
  if (::GetFileAttributesW(zel::as_wcstr(built)) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "the sample player is not built at " << zel::ToUtf8(built);
  // Under Wine a window needs an X display (the Windows tests run under xvfb-run).
  if (IsRunningUnderWine() && ::GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
    GTEST_SKIP() << "no X display for the player's window";
  ASSERT_EQ(TInstallerSpawnService::TargetWindow(), nullptr) << "another test left the spawn service set up";
  SetShellOpenHook(nullptr);

  // An installation folder that holds only the player, under its installed name.
  const String dest = FullPathOf(ScratchDir(u"FinishActionTest"));
  const String player = dest + u"\\KIVO.exe";
  ASSERT_TRUE(::CopyFileW(zel::as_wcstr(built), zel::as_wcstr(player), FALSE)) << zel::ToUtf8(player);

  TTestInstallerEnvironment environment;  // its script offers "$DEST\KIVO.exe" as a finish action
  TInstaller installer(u"/AUTO=\"" + dest + u"\" /SILENT");
  EXPECT_TRUE(zel::SameText(installer.DestPath(), dest + u"\\"));
  installer.Start(true);  // the test product has no actions
  ASSERT_FALSE(installer.HasErrors()) << zel::ToUtf8(installer.Errors()[0]);
  ASSERT_EQ(FindPlayerWindow(player).Window, nullptr) << "the player runs before the finish actions";

  installer.Options().WriteBool(u"Actions", u"$DEST\\KIVO.exe", true);
  installer.RunFinishActions();

  const TFoundWindow found = WaitForPlayerWindow(player, kWindowTimeout);
  ASSERT_NE(found.Window, nullptr) << "no \"TKIVOMainForm\" window of " << zel::ToUtf8(player) << " within "
                                   << kWindowTimeout << " ms";
  zel::THandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, found.ProcessId));
  ASSERT_TRUE(process) << "cannot open the player's process";

  // The player closes on WM_CLOSE, as the real one does.
  ::PostMessageW(found.Window, WM_CLOSE, 0, 0);
  const DWORD ended = ::WaitForSingleObject(process.Get(), kWindowTimeout);
  if (ended != WAIT_OBJECT_0) ::TerminateProcess(process.Get(), 1);
  EXPECT_EQ(ended, WAIT_OBJECT_0) << "the player did not end after WM_CLOSE";
}
