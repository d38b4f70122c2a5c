#include "core/SpawnService.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "HelperProcess.h"
#include "TestSupport.h"
#include "library/Exceptions.h"
#include "library/win/MessageWait.h"

namespace kivo {
namespace {

using zel::String;

struct TOpened {
  String File;
  String Parameters;
  bool operator==(const TOpened&) const = default;
};

void PrintTo(const TOpened& o, std::ostream* os) { *os << zel::ToUtf8(o.File) << " | " << zel::ToUtf8(o.Parameters); }

class SpawnServiceTest : public ::testing::Test {
protected:
  void SetUp() override {
    TInstallerSpawnService::Finalize();
    SetShellOpenHook([this](zel::StringView file, zel::StringView params) {
      FOpened.push_back({String(file), String(params)});
    });
  }
  void TearDown() override {
    TInstallerSpawnService::Finalize();
    SetShellOpenHook(nullptr);
  }

  // Runs spawn_client against a window and serves its request meanwhile, the way the
  // relay's main thread does.
  DWORD RunClient(zel::StringView windowText, zel::StringView command) {
    zel::THandle process = test::StartProcess(test::Quoted(test::HelperPath(u"spawn_client.exe")) + u" " +
                                              String(windowText) + u" " + test::Quoted(command));
    if (!process) return 0xDEAD;
    if (!zel::WaitServingMessages(process.Get(), 20000, 100)) return 0xBEEF;
    return test::ExitCodeOf(process.Get());
  }

  // What opening a command here should hand to the shell.
  static TOpened OpenedHere(const String& command) {
    if (IsRunningUnderWine() && IsUrl(command)) return {u"winebrowser", command};
    return {command, u""};
  }

  std::vector<TOpened> FOpened;
};

TEST_F(SpawnServiceTest, RequestsFromAnotherProcessReachTheServer) {
  TInstallerSpawnService::Initialize(nullptr);
  ASSERT_TRUE(TInstallerSpawnService::IsServer());
  const String window = TInstallerSpawnService::WindowToText(TInstallerSpawnService::TargetWindow());

  const struct {
    String Command;
    bool Opened;
  } cases[] = {
      {u"C:\\Program Files\\KIVO\\KIVO.exe", true},
      {u"", false},     // nothing to open: ignored, not handed to the shell
      {u"   ", false},  // the same
      {u"C:\\Users\\Ünïcödé\\Документы\\song.mp3", true},
      {u"x", true},
      {u"https://example.com/thanks?from=setup", true},
      {u"mailto:support@example.com", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(zel::ToUtf8(c.Command));
    FOpened.clear();
    EXPECT_EQ(0u, RunClient(window, c.Command));
    if (!c.Opened) {
      EXPECT_TRUE(FOpened.empty());
      continue;
    }
    ASSERT_EQ(1u, FOpened.size());
    EXPECT_EQ(OpenedHere(c.Command), FOpened[0]);
  }
}

TEST_F(SpawnServiceTest, MalformedRequestsAreIgnored) {
  TInstallerSpawnService::Initialize(nullptr);
  const String text(40000, u'a');  // longer than any path
  struct TCase {
    const char* Name;
    DWORD Bytes;
    const void* Data;
  } cases[] = {
      {"odd size", 7, text.data()},
      {"no data", 8, nullptr},
      {"one byte", 1, text.data()},
      {"longer than a path", static_cast<DWORD>(text.size() * 2), text.data()},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    COPYDATASTRUCT data{};
    data.dwData = TInstallerSpawnService::SpawnMessage();
    data.cbData = c.Bytes;
    data.lpData = const_cast<void*>(c.Data);
    ::SendMessageW(TInstallerSpawnService::TargetWindow(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  }
  EXPECT_TRUE(FOpened.empty());
  // The limit itself is still a request.
  const String longest(32767, u'b');
  COPYDATASTRUCT data{};
  data.dwData = TInstallerSpawnService::SpawnMessage();
  data.cbData = static_cast<DWORD>(longest.size() * 2);
  data.lpData = const_cast<char16_t*>(longest.data());
  ::SendMessageW(TInstallerSpawnService::TargetWindow(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  ASSERT_EQ(1u, FOpened.size());
  EXPECT_EQ(longest, FOpened[0].File);
}

TEST_F(SpawnServiceTest, ServerWindowIsMessageOnlyAndGoesAwayAtFinalize) {
  TInstallerSpawnService::Initialize(nullptr);
  const HWND server = TInstallerSpawnService::TargetWindow();
  EXPECT_EQ(server, ::FindWindowExW(HWND_MESSAGE, nullptr, L"TInstallerSpawnService", nullptr));
  EXPECT_EQ(::RegisterWindowMessageW(L"SpawnToken"), TInstallerSpawnService::SpawnMessage());
  TInstallerSpawnService::Finalize();
  EXPECT_FALSE(::IsWindow(server));
  EXPECT_EQ(nullptr, TInstallerSpawnService::TargetWindow());
  EXPECT_FALSE(TInstallerSpawnService::IsServer());
}

TEST_F(SpawnServiceTest, CopyDataWithAnotherIdentifierIsNotARequest) {
  TInstallerSpawnService::Initialize(nullptr);
  const String command = u"C:\\evil.exe";
  COPYDATASTRUCT data{};
  data.dwData = TInstallerSpawnService::SpawnMessage() + 1;
  data.cbData = static_cast<DWORD>(command.size() * 2);
  data.lpData = const_cast<char16_t*>(command.data());
  ::SendMessageW(TInstallerSpawnService::TargetWindow(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  ::SendMessageW(TInstallerSpawnService::TargetWindow(), WM_COPYDATA, 0, 0);  // no record at all
  EXPECT_TRUE(FOpened.empty());
}

TEST_F(SpawnServiceTest, SecondInitializeRaises) {
  for (bool asServer : {true, false}) {
    SCOPED_TRACE(asServer ? "server" : "client");
    TInstallerSpawnService::Finalize();
    const HWND first = asServer ? nullptr : ::GetDesktopWindow();
    TInstallerSpawnService::Initialize(first);
    const HWND target = TInstallerSpawnService::TargetWindow();
    for (HWND second : {static_cast<HWND>(nullptr), ::GetDesktopWindow()}) {
      try {
        TInstallerSpawnService::Initialize(second);
        ADD_FAILURE() << "no exception";
      } catch (const zel::Exception& e) {
        EXPECT_EQ(u"SpawnService is already initialized", e.Message());
      }
    }
    EXPECT_EQ(target, TInstallerSpawnService::TargetWindow());
    EXPECT_EQ(asServer, TInstallerSpawnService::IsServer());
  }
}

TEST_F(SpawnServiceTest, ClientWhoseServerIsGoneDoesNothing) {
  TInstallerSpawnService::Initialize(nullptr);
  const String window = TInstallerSpawnService::WindowToText(TInstallerSpawnService::TargetWindow());
  const HWND gone = TInstallerSpawnService::TargetWindow();
  TInstallerSpawnService::Finalize();

  // In another process and in this one.
  EXPECT_EQ(0u, RunClient(window, u"C:\\KIVO.exe"));
  TInstallerSpawnService::Initialize(gone);
  EXPECT_FALSE(TInstallerSpawnService::IsServer());
  EXPECT_NO_THROW(TInstallerSpawnService::Spawn(u"C:\\KIVO.exe"));
  EXPECT_TRUE(FOpened.empty());
}

TEST_F(SpawnServiceTest, ServerAndUninitialisedServiceOpenHere) {
  const String commands[] = {u"C:\\Program Files\\KIVO\\KIVO.exe", u"https://example.com/", u"notes.txt"};
  for (bool initialised : {false, true}) {
    TInstallerSpawnService::Finalize();
    if (initialised) TInstallerSpawnService::Initialize(nullptr);
    for (const String& command : commands) {
      SCOPED_TRACE(zel::ToUtf8(command) + (initialised ? " (server)" : " (no service)"));
      FOpened.clear();
      TInstallerSpawnService::Spawn(command);
      ASSERT_EQ(1u, FOpened.size());
      if (IsRunningUnderWine()) {
        EXPECT_EQ(OpenedHere(command), FOpened[0]);
      } else {
        // The shell opens it in its own, unelevated context.
        EXPECT_EQ(u"explorer.exe", FOpened[0].File);
        EXPECT_NE(String::npos, FOpened[0].Parameters.find(command));
      }
    }
  }
}

TEST_F(SpawnServiceTest, WithoutAHookCommandsReallyOpen) {
  SetShellOpenHook(nullptr);
  const String marker = test::ScratchDir(u"spawn-really-open") + u"\\opened.txt";
  ShellOpen(test::HelperPath(u"probe_child.exe"), u"--marker=" + marker);
  const ULONGLONG start = ::GetTickCount64();
  while (!test::FileExists(marker) && ::GetTickCount64() - start < 20000) ::Sleep(50);
  EXPECT_TRUE(test::FileExists(marker));
  // A file that cannot be opened is passed over.
  EXPECT_NO_THROW(ShellOpen(test::ScratchDir(u"spawn-really-open-missing") + u"\\missing.exe"));
}

TEST_F(SpawnServiceTest, UrlsAndWindowHandleTexts) {
  const std::pair<const char16_t*, bool> urls[] = {
      {u"https://example.com", true}, {u"mailto:a@b.c", true}, {u"ftp+x.y-z://host", true},
      {u"C:\\KIVO\\KIVO.exe", false}, {u"KIVO.exe", false},    {u"\\\\server\\share\\a.exe", false},
      {u"1http://x", false},          {u":x", false},          {u"", false},
  };
  for (const auto& [text, isUrl] : urls) EXPECT_EQ(isUrl, IsUrl(text)) << zel::ToUtf8(text);

  const std::pair<const char16_t*, intptr_t> handles[] = {
      {u"0", 0},
      {u"", 0},
      {u"abc", 0},
      {u"12x", 0},
      {u"655432", 655432},
      {u"-2", -2},
      {u"2147483647", 2147483647},
      {u"99999999999", 0},
  };
  for (const auto& [text, value] : handles)
    EXPECT_EQ(reinterpret_cast<HWND>(value), TInstallerSpawnService::WindowFromText(text)) << zel::ToUtf8(text);
  // Handles with the top bit of their low 32 bits set travel as negative numbers.
  const HWND high = reinterpret_cast<HWND>(static_cast<intptr_t>(int32_t(0x80001234)));
  EXPECT_EQ(u"-2147478988", TInstallerSpawnService::WindowToText(high));
  EXPECT_EQ(high, TInstallerSpawnService::WindowFromText(TInstallerSpawnService::WindowToText(high)));
}

}  // namespace
}  // namespace kivo
