// Closing running players before their files are touched, against real copies of the
// sample player (KIVO.exe): ones that close, one that hangs in WM_CLOSE and one that
// ignores it. The action runs on the worker with short pauses.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "HelperProcess.h"
#include "TestInstaller.h"
#include "library/win/FileSystem.h"
#include "core/InstallerThread.h"
#include "product/ActionCloseApplications.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

struct TTimings {
  DWORD SleepMs = 50;
  UINT CloseTimeoutMs = 300;
  int MaxPasses = 30;
} Timings;

class TQuickCloseApplications : public TInstallerActionCloseApplications {
  KIVO_ACTION_CLASS(TQuickCloseApplications)
public:
  TQuickCloseApplications() {
    SleepMs = Timings.SleepMs;
    CloseTimeoutMs = Timings.CloseTimeoutMs;
    MaxPasses = Timings.MaxPasses;
  }
};

String PlayerPath() { return zel::ExtractFilePath(zel::ModuleFileName()) + u"..\\sample\\KIVO.exe"; }

int PlayerWindowsOf(DWORD processId) {
  struct TSearch {
    DWORD ProcessId;
    int Count;
  } search{processId, 0};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<TSearch*>(param);
        wchar_t name[64];
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == s->ProcessId && ::GetClassNameW(window, name, 64) && std::wcscmp(name, L"TKIVOMainForm") == 0)
          ++s->Count;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.Count;
}

// A top-level window of a given class and an unrelated title, on a thread of its own
// that closes it on WM_CLOSE as any program would.
class TToolWindow {
public:
  explicit TToolWindow(const wchar_t* className) {
    zel::THandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    FThread = std::thread([this, className, event = ready.Get()] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = &TToolWindow::WindowProc;
      wc.hInstance = ::GetModuleHandleW(nullptr);
      wc.lpszClassName = className;
      ::RegisterClassW(&wc);  // registered once per process; a second call fails harmlessly
      FWindow = ::CreateWindowExW(0, className, L"Not the player", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                  nullptr, wc.hInstance, nullptr);
      ::SetEvent(event);
      if (!FWindow) return;
      MSG msg;
      while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    });
    ::WaitForSingleObject(ready.Get(), 10000);
  }
  ~TToolWindow() {
    if (FWindow && ::IsWindow(FWindow)) ::PostMessageW(FWindow, WM_CLOSE, 0, 0);
    FThread.join();
  }
  bool Created() const { return FWindow != nullptr; }
  // Destroyed: the window handles WM_CLOSE synchronously.
  bool Closed() const { return FWindow && !::IsWindow(FWindow); }

private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message == WM_DESTROY) {
      ::PostQuitMessage(0);
      return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }

  std::thread FThread;
  std::atomic<HWND> FWindow{nullptr};
};

// Running players, ended by force at the end of the test whatever happened.
class TPlayers {
public:
  ~TPlayers() {
    for (const zel::THandle& process : FProcesses)
      if (::WaitForSingleObject(process.Get(), 0) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.Get(), 9);
        ::WaitForSingleObject(process.Get(), 5000);
      }
  }
  // Starts one and waits until its main window is there.
  bool Start(const String& switches) {
    zel::THandle process = StartProcess(Quoted(PlayerPath()) + u" " + switches);
    if (!process) return false;
    const DWORD id = ::GetProcessId(process.Get());
    FProcesses.push_back(std::move(process));
    ::WaitForInputIdle(FProcesses.back().Get(), 10000);
    for (int i = 0; i < 500; ++i) {
      if (PlayerWindowsOf(id) > 0) return true;
      ::Sleep(20);
    }
    return false;
  }
  // True when every player has ended within the time.
  bool AllEnded(DWORD timeoutMs) const {
    for (const zel::THandle& process : FProcesses)
      if (::WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) return false;
    return true;
  }
  bool NoneEnded() const {
    for (const zel::THandle& process : FProcesses)
      if (::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0) return false;
    return true;
  }

private:
  std::vector<zel::THandle> FProcesses;
};

}  // namespace

TEST(CloseApplications, ClosesEveryPlayerAndNeverHangsTheSetup) {
  if (!FileExists(PlayerPath())) GTEST_SKIP() << "the sample player is not built";
  struct Case {
    const char* what;
    std::vector<const char16_t*> players;  // the switches of each player started
    UINT closeTimeoutMs;
    int maxPasses;
    int passes;
    bool playersEnd;
  };
  // Under Wine on a display without a window manager, destroying a shown top-level
  // window takes about 2 seconds; players that close get the product's own time-out,
  // so that each close request is answered within its pass.
  const Case cases[] = {
      {"nothing running", {}, 300, 30, 1, true},
      // One window closed per pass, then a pass that finds none.
      {"two players", {u"", u""}, 5000, 30, 3, true},
      {"a player hanging in WM_CLOSE", {u"/hang"}, 300, 2, 2, false},
      {"a player that ignores WM_CLOSE", {u"/ignoreclose"}, 300, 2, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Timings = TTimings();
    Timings.MaxPasses = c.maxPasses;
    Timings.CloseTimeoutMs = c.closeTimeoutMs;
    TTestInstallerEnvironment environment;
    TestProduct.Actions = {ActionClassOf<TQuickCloseApplications>()};
    TRecordingListener listener;
    TInstaller installer(u"/AUTO=C:\\KIVO-Test /SILENT");
    ChooseLanguage(installer.Resources(), false);
    installer.AddListener(&listener);
    // Declared after the installer, so that a failing case ends the players first and
    // the worker can end.
    TPlayers players;
    for (const char16_t* switches : c.players) ASSERT_TRUE(players.Start(switches));
    const auto started = std::chrono::steady_clock::now();
    installer.Start(false);
    ASSERT_TRUE(installer.Thread()->WaitFor(20000)) << "the setup hangs";
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    installer.RemoveListener(&listener);

    EXPECT_FALSE(installer.HasErrors());
    auto& action = static_cast<TInstallerActionCloseApplications&>(installer.Thread()->Actions().Items(0));
    EXPECT_EQ(action.PassCount(), c.passes);
    // Each pass waits SleepMs; a close request at most CloseTimeoutMs.
    EXPECT_LT(ms, 2000 + c.passes * static_cast<long long>(Timings.SleepMs + Timings.CloseTimeoutMs));
    EXPECT_GE(ms, c.passes * static_cast<long long>(Timings.SleepMs) - 20);
    if (c.playersEnd) EXPECT_TRUE(players.AllEnded(5000)) << "every player exits";
    else EXPECT_TRUE(players.NoneEnded());
    ASSERT_FALSE(listener.EventsWithCode(NotifyStatus).empty());
    EXPECT_EQ(listener.EventsWithCode(NotifyStatus).front().Text, u"Closing running programs...");
  }
}

TEST(CloseApplications, ClosesTheWindowsOfEveryClassOfThePlayerAndItsToolsWhateverTheirTitle) {
  const wchar_t* classes[] = {L"TKIVO2EditorForm",       L"TKIVO2MainW",      L"TKIVO3MainWindow", L"TKIVOATEForm",
                              L"TKIVOConverterMainForm", L"TKIVOLibMainForm", L"TKIVOMainForm"};
  std::vector<std::unique_ptr<TToolWindow>> windows;
  for (const wchar_t* name : classes) windows.push_back(std::make_unique<TToolWindow>(name));
  for (const auto& window : windows) ASSERT_TRUE(window->Created());

  Timings = TTimings();
  TTestInstallerEnvironment environment;
  TestProduct.Actions = {ActionClassOf<TQuickCloseApplications>()};
  TInstaller installer(u"/AUTO=C:\\KIVO-Test /SILENT");
  ChooseLanguage(installer.Resources(), false);
  installer.Start(false);
  ASSERT_TRUE(installer.Thread()->WaitFor(20000));
  // One window per class in the first pass, none left for the second.
  EXPECT_EQ(static_cast<TInstallerActionCloseApplications&>(installer.Thread()->Actions().Items(0)).PassCount(), 2);
  for (size_t i = 0; i < windows.size(); ++i)
    EXPECT_TRUE(windows[i]->Closed()) << zel::ToUtf8(zel::from_wcstr(classes[i]));
}

TEST(CloseApplications, ACancelEndsTheWaitsAtOnceWhateverThePlayerDoes) {
  if (!FileExists(PlayerPath())) GTEST_SKIP() << "the sample player is not built";
  // The product's own timings: without the cancel a hung player holds the pass for
  // seconds (the close request's time-out, then the pause between passes).
  for (const char16_t* switches : {u"/hang", u"/ignoreclose"}) {
    SCOPED_TRACE(zel::ToUtf8(switches));
    Timings = TTimings();
    Timings.SleepMs = 2000;
    Timings.CloseTimeoutMs = 5000;
    TTestInstallerEnvironment environment;
    TestProduct.Actions = {ActionClassOf<TQuickCloseApplications>()};
    TInstaller installer(u"/AUTO=C:\\KIVO-Test /SILENT");
    ChooseLanguage(installer.Resources(), false);
    TPlayers players;
    ASSERT_TRUE(players.Start(switches));
    HWND player = ::FindWindowW(L"TKIVOMainForm", nullptr);
    ASSERT_NE(player, nullptr);
    TRecordingListener listener;
    installer.AddListener(&listener);
    installer.Start(false);
    // Until the pass is under way: the status is out and, for the hanging player, it
    // hangs in its close request. The waits serve the worker's notifications.
    const bool hangs = std::u16string_view(switches) == u"/hang";
    auto underWay = [&] {
      if (listener.EventsWithCode(NotifyStatus).empty()) return false;
      DWORD_PTR result = 0;
      return !hangs || !::SendMessageTimeoutW(player, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &result);
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!underWay() && std::chrono::steady_clock::now() < deadline) installer.Thread()->WaitFor(20);
    ASSERT_TRUE(underWay()) << "the close pass never began";
    const auto cancelled = std::chrono::steady_clock::now();
    installer.RequestStop();
    ASSERT_TRUE(installer.Thread()->WaitFor(20000)) << "the setup hangs";
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - cancelled).count();
    EXPECT_LT(ms, 1000) << "the cancel ends the waits at once";
    EXPECT_TRUE(installer.Cancelled());
    EXPECT_TRUE(players.NoneEnded());
    installer.RemoveListener(&listener);
  }
}

// A silent install's product package is still decoding when the run begins. No window is
// asked to close before the package has been verified, and while none is open the decode
// fills the pause instead of coming before it.
TEST(CloseApplications, TheProductPackageIsVerifiedFirstAndFillsThePause) {
  Timings = TTimings();
  TTestInstallerEnvironment environment;
  TestProduct.Actions = {ActionClassOf<TQuickCloseApplications>()};
  {
    TToolWindow player(L"TKIVOMainForm");
    ASSERT_TRUE(player.Created());
    ResourcesFactory = [](TInstallerProductInfo* info) {
      return std::make_unique<TInstallerResources>(
          info, Package(DefaultSetupMembers()),
          [](const TInstallerResources::TDecodeProgress&) -> std::unique_ptr<TSetupPackageReader> {
            throw ESetupPackageReadError();
          });
    };
    TInstaller installer(u"/AUTO=C:\\KIVO-Test /SILENT");
    ChooseLanguage(installer.Resources(), false);
    installer.Start(false);
    ASSERT_TRUE(installer.Thread()->WaitFor(20000));
    ASSERT_TRUE(installer.HasErrors());
    EXPECT_EQ(ErrorEntryMessage(installer.Errors()[0]), u"Package was corrupted");
    EXPECT_FALSE(player.Closed()) << "asked to close for a run that could not go on";
  }
  // A decode that takes longer than the pause: the run takes about the decode, not both.
  constexpr DWORD kDecodeMs = 3000;
  Timings.SleepMs = 3000;
  ResourcesFactory = [](TInstallerProductInfo* info) {
    return std::make_unique<TInstallerResources>(info, Package(DefaultSetupMembers()),
                                                 [](const TInstallerResources::TDecodeProgress&) {
                                                   ::Sleep(kDecodeMs);  // stands for the decode's work
                                                   return Package({{u"Product.txt", "product"}});
                                                 });
  };
  TInstaller installer(u"/AUTO=C:\\KIVO-Test /SILENT");
  ChooseLanguage(installer.Resources(), false);
  const auto started = std::chrono::steady_clock::now();
  installer.Start(false);
  ASSERT_TRUE(installer.Thread()->WaitFor(20000));
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  EXPECT_FALSE(installer.HasErrors());
  EXPECT_FALSE(installer.Resources().ProductPending());
  EXPECT_GE(ms, static_cast<long long>(kDecodeMs));
  EXPECT_LT(ms, static_cast<long long>(kDecodeMs + Timings.SleepMs) - 500) << "the pause waited after the decode";
}
