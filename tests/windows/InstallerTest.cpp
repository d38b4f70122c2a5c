// The installer object and its worker, on the real notification window and thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "HelperProcess.h"
#include "TestInstaller.h"
#include "package/InstallerErrors.h"
#include "core/InstallerThread.h"
#include "core/SpawnService.h"
#include "library/win/MessageWait.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

// What the test actions did, in order, with the thread they ran on.
std::vector<std::string> ActionLog;
std::atomic<DWORD> ActionThread{0};
HANDLE ReleaseSlowAction = nullptr;
HANDLE SlowActionStarted = nullptr;

class TRecordAction : public TInstallerAction {
  KIVO_ACTION_CLASS(TRecordAction)
public:
  void Execute() override {
    ActionThread = ::GetCurrentThreadId();
    ActionLog.push_back("record");
    SetStatus(u"working");
  }
};

class TFailAction : public TInstallerAction {
  KIVO_ACTION_CLASS(TFailAction)
public:
  void Execute() override {
    ActionLog.push_back("fail");
    throw EInstallerInstallError(u"Disk is on fire");
  }
};

class TRepeatProgressAction : public TInstallerAction {
  KIVO_ACTION_CLASS(TRepeatProgressAction)
public:
  void Execute() override {
    SetProgress(50);
    SetProgress(50);
  }
};

// Waits until the test lets it go, so a stop request arrives while it runs.
class TSlowAction : public TInstallerAction {
  KIVO_ACTION_CLASS(TSlowAction)
public:
  void Execute() override {
    ActionLog.push_back("slow");
    ::SetEvent(SlowActionStarted);
    ::WaitForSingleObject(ReleaseSlowAction, 10000);
  }
  void Cancel() override { ActionLog.push_back("cancel-told"); }
};

// Asks the main thread something, as the locked-file question does.
class TAskMainThreadAction : public TInstallerAction {
  KIVO_ACTION_CLASS(TAskMainThreadAction)
public:
  void Execute() override {
    DWORD answeredOn = 0;
    Installer->CallOnMainThread([&] { answeredOn = ::GetCurrentThreadId(); });
    ActionLog.push_back(answeredOn == MainThread ? "asked-main" : "asked-elsewhere");
  }
  static DWORD MainThread;
};
DWORD TAskMainThreadAction::MainThread = 0;

class InstallerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ActionLog.clear();
    ActionThread = 0;
    ReleaseSlowAction = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SlowActionStarted = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Opened.clear();
    SetShellOpenHook([this](zel::StringView file, zel::StringView parameters) {
      Opened.push_back(String(file) + u"|" + String(parameters));
    });
  }
  void TearDown() override {
    SetShellOpenHook(nullptr);
    ::CloseHandle(ReleaseSlowAction);
    ::CloseHandle(SlowActionStarted);
  }
  std::vector<String> Opened;
};

}  // namespace

TEST_F(InstallerTest, ReadsModeAndFlagsFromTheSwitches) {
  TTestInstallerEnvironment environment;
  struct Case {
    const char16_t* params;
    bool canUpdate;
    TInstallerFlags flags;
    const char16_t* dest;
  };
  const TInstallerFlags A = FlagBit(TInstallerFlag::Auto), P = FlagBit(TInstallerFlag::Portable),
                        U = FlagBit(TInstallerFlag::Update), S = FlagBit(TInstallerFlag::Silent),
                        R = FlagBit(TInstallerFlag::Run), N = FlagBit(TInstallerFlag::NoBackup);
  const Case cases[] = {
      {u"", false, 0, u"C:\\KIVO-Test\\"},  // interactive: Update dropped, no installation
      {u"", true, U, u"C:\\KIVO-Test\\"},   // interactive over an updatable one
      {u"/AUTO=D:\\Apps\\KIVO /SILENT", false, A | S, u"D:\\Apps\\KIVO\\"},
      {u"/AUTO /SILENT /PORTABLE /NOBACKUP /RUN", false, A | S | P | N | R, u"C:\\KIVO-Test\\"},
      {u"/auto=D:\\K /silent", false, A | S, u"D:\\K\\"},
      // UPDATE present: SILENT and PORTABLE are not read.
      {u"/AUTO=D:\\K /UPDATE /SILENT /PORTABLE", true, A | U, u"D:\\K\\"},
      // DEST names the folder when AUTO gives none, and only then; without AUTO it is not read.
      {u"/AUTO /SILENT /DEST=\"D:\\Program Files\\K\"", false, A | S, u"D:\\Program Files\\K\\"},
      {u"/AUTO=D:\\K /DEST=D:\\Other", false, A, u"D:\\K\\"},
      {u"/AUTO /DEST=", false, A, u"C:\\KIVO-Test\\"},
      {u"/DEST=D:\\K", false, 0, u"C:\\KIVO-Test\\"},
  };
  for (const Case& c : cases) {
    TestProduct.CanUpdate = c.canUpdate;
    TInstaller installer(c.params);
    EXPECT_EQ(installer.Mode(), TInstallerMode::Install) << zel::ToUtf8(c.params);
    EXPECT_EQ(installer.Flags(), c.flags) << zel::ToUtf8(c.params);
    EXPECT_EQ(installer.DestPath(), c.dest) << zel::ToUtf8(c.params);
    EXPECT_EQ(Installer, &installer);
  }
  EXPECT_EQ(Installer, nullptr);
}

TEST_F(InstallerTest, UpdateWithoutAnUpdatableInstallationStops) {
  TTestInstallerEnvironment environment;
  TestProduct.InstalledVersion = 0;
  try {
    TInstaller installer(u"/AUTO=D:\\K /UPDATE");
    FAIL() << "no error";
  } catch (const EInstallerUpdateError& e) {
    EXPECT_EQ(e.Message(), u"Cannot install update on v0.00");
  }
  EXPECT_EQ(Installer, nullptr) << "a failed constructor must not leave the global behind";
}

TEST_F(InstallerTest, UninstallModeComesFromTheDataPackage) {
  TTestInstallerEnvironment environment(DefaultSetupMembers(), {{u"Uninstall.ini", "[Uninstall]\r\nCount=0\r\n"}});
  TInstaller plain(u"/PORTABLE /SILENT");
  EXPECT_EQ(plain.Mode(), TInstallerMode::Uninstall);
  EXPECT_EQ(plain.Flags(), 0);
  EXPECT_TRUE(plain.DestPath().empty());
}

TEST_F(InstallerTest, SetDestPathConsultsTheProductOnlyForANewValue) {
  TTestInstallerEnvironment environment;
  TInstaller installer(u"/AUTO=D:\\Apps\\KIVO\\");
  const int calls = TestProduct.LoadInstalledConfigCalls;
  installer.SetDestPath(u"D:\\Apps\\KIVO\\");
  EXPECT_EQ(TestProduct.LoadInstalledConfigCalls, calls);
  installer.SetDestPath(u"d:\\apps\\kivo\\");
  EXPECT_EQ(TestProduct.LoadInstalledConfigCalls, calls + 1);
  EXPECT_EQ(installer.DestPath(), u"d:\\apps\\kivo\\");
}

TEST_F(InstallerTest, ProgramFilesDestinationsAreNeverPortable) {
  TTestInstallerEnvironment environment;
  TestProduct.CanUpdate = true;
  TestProduct.Portable = true;
  TInstaller installer(u"/AUTO=D:\\Portable\\KIVO /PORTABLE");
  EXPECT_TRUE(installer.HasFlag(TInstallerFlag::Portable));
  const String programFiles = installer.Resources().ProgramFilesFolder();
  for (const String& dest : {programFiles + u"KIVO", installer.Resources().NativeProgramFilesFolder() + u"KIVO",
                             programFiles + u"Vendor\\KIVO"}) {
    installer.SetDestPath(dest);
    EXPECT_TRUE(installer.IsProgramFilesPath()) << zel::ToUtf8(dest);
    EXPECT_FALSE(installer.HasFlag(TInstallerFlag::Portable)) << zel::ToUtf8(dest);
    installer.SetFlag(TInstallerFlag::Portable, true);
    EXPECT_FALSE(installer.HasFlag(TInstallerFlag::Portable)) << "the setup page cannot force it";
  }
}

TEST_F(InstallerTest, FlagsThatFixTheRunCannotChange) {
  TTestInstallerEnvironment environment;
  TInstaller installer(u"/AUTO=D:\\K");
  try {
    installer.SetFlag(TInstallerFlag::Auto, false);
    FAIL() << "no error";
  } catch (const EInstallerMysteryError& e) {
    EXPECT_EQ(e.Message(), u"Invalid Arguments");
  }
  EXPECT_THROW(installer.SetFlag(TInstallerFlag::Silent, true), EInstallerMysteryError);
  installer.SetFlag(TInstallerFlag::Auto, true);  // unchanged: fine
  installer.SetFlag(TInstallerFlag::Update, true);
  EXPECT_FALSE(installer.HasFlag(TInstallerFlag::Update)) << "no updatable installation";
  EXPECT_FALSE(installer.HasFlag(99));
}

TEST_F(InstallerTest, RunsActionsOnTheWorkerAndNotifiesOnTheMainThreadInOrder) {
  TTestInstallerEnvironment environment;
  TestProduct.Actions = {ActionClassOf<TRecordAction>(), ActionClassOf<TRecordAction>(),
                         ActionClassOf<TAskMainThreadAction>()};
  TAskMainThreadAction::MainThread = ::GetCurrentThreadId();
  TInstaller installer(u"/AUTO=D:\\K /SILENT");
  TRecordingListener listener;
  installer.AddListener(&listener);
  installer.Start(true);

  EXPECT_EQ(installer.State(), 2);
  EXPECT_FALSE(installer.HasErrors());
  EXPECT_EQ(ActionLog, (std::vector<std::string>{"record", "record", "asked-main"}));
  EXPECT_NE(ActionThread.load(), ::GetCurrentThreadId());
  ASSERT_FALSE(listener.Events.empty());
  for (const auto& e : listener.Events) EXPECT_EQ(e.Thread, ::GetCurrentThreadId());
  EXPECT_EQ(listener.Events.back().Code, NotifyEnded);
  EXPECT_EQ(listener.Events.back().Data, 0);
  EXPECT_EQ(listener.EventsWithCode(NotifyStatus).front().Text, u"working");

  // Overall progress: 0 as the first starts, 33 as the second starts, 100 at the end.
  std::vector<int> overall;
  for (const auto& e : listener.EventsWithCode(NotifyProgress)) overall.push_back(static_cast<int>(e.Data >> 16));
  EXPECT_EQ(overall.front(), 0);
  EXPECT_NE(std::find(overall.begin(), overall.end(), 33), overall.end());
  EXPECT_EQ(overall.back(), 100);
  EXPECT_TRUE(std::is_sorted(overall.begin(), overall.end()));
  // Every progress notification is followed by a repaint request.
  for (size_t i = 0; i < listener.Events.size(); ++i)
    if (listener.Events[i].Code == NotifyProgress) EXPECT_EQ(listener.Events.at(i + 1).Code, NotifyRepaint);

  installer.Start(true);  // a run starts at most once
  EXPECT_EQ(ActionLog.size(), 3u);
  installer.RemoveListener(&listener);
}

TEST_F(InstallerTest, ARepeatedProgressValueNotifiesOnce) {
  TTestInstallerEnvironment environment;
  TestProduct.Actions = {ActionClassOf<TRepeatProgressAction>()};
  TInstaller installer(u"/AUTO=D:\\K /SILENT");
  TRecordingListener listener;
  installer.AddListener(&listener);
  installer.Start(true);
  int fifty = 0;
  for (const auto& e : listener.EventsWithCode(NotifyProgress)) fifty += (e.Data & 0xFFFF) == 50;
  EXPECT_EQ(fifty, 1);
  EXPECT_EQ(listener.EventsWithCode(NotifyRepaint).size(), listener.EventsWithCode(NotifyProgress).size());
}

TEST_F(InstallerTest, AFailureEndsTheRunWithOneFramedErrorEntry) {
  TTestInstallerEnvironment environment;
  TestProduct.Actions = {ActionClassOf<TRecordAction>(), ActionClassOf<TFailAction>(), ActionClassOf<TRecordAction>()};
  TInstaller installer(u"/AUTO=D:\\K /SILENT");
  TRecordingListener listener;
  installer.AddListener(&listener);
  installer.Start(true);
  EXPECT_EQ(ActionLog, (std::vector<std::string>{"record", "fail"}));
  ASSERT_EQ(installer.Errors().Count(), 1u);
  const std::vector<String> lines = zel::Split(installer.Errors()[0], u'\n');
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], u"Disk is on fire\r");
  EXPECT_EQ(lines[1], String(20, u'-') + u"\r");
  EXPECT_EQ(lines.back(), String(20, u'-'));
  EXPECT_NE(installer.Errors()[0].find(u".exe+0x"), String::npos) << "the stack names module and offset";
  EXPECT_EQ(listener.Events.back().Code, NotifyEnded);
  EXPECT_EQ(listener.Events.back().Data, 0);

  installer.RunFinishActions();
  EXPECT_TRUE(Opened.empty()) << "no finish actions after errors";
}

TEST_F(InstallerTest, AFailureWhileListingActionsRunsNone) {
  TTestInstallerEnvironment environment;
  TestProduct.ThrowInPopulate = true;
  TestProduct.Actions = {ActionClassOf<TRecordAction>()};
  TInstaller installer(u"/AUTO=D:\\K /SILENT");
  installer.Start(true);
  EXPECT_TRUE(ActionLog.empty());
  ASSERT_EQ(installer.Errors().Count(), 1u);
  EXPECT_TRUE(zel::StartsWith(installer.Errors()[0], u"The product could not list its actions\r\n"));
  EXPECT_EQ(installer.State(), 2);
}

TEST_F(InstallerTest, StoppingLetsTheRunningActionFinishAndRecordsTheCancel) {
  TTestInstallerEnvironment environment;
  TestProduct.Actions = {ActionClassOf<TSlowAction>(), ActionClassOf<TRecordAction>()};
  TInstaller installer(u"/AUTO=D:\\K");
  ChooseLanguage(installer.Resources(), false);
  TRecordingListener listener;
  installer.AddListener(&listener);
  installer.Start(false);
  // Let the slow action start (serving the worker's notifications meanwhile), then let
  // it go shortly after the stop request.
  ASSERT_TRUE(zel::WaitServingMessages(SlowActionStarted, 10000, 10));
  std::thread release([] {
    ::Sleep(200);
    ::SetEvent(ReleaseSlowAction);
  });
  installer.StopThread();  // must serve the worker's notifications while it waits
  release.join();
  EXPECT_EQ(ActionLog, (std::vector<std::string>{"slow", "cancel-told"}));
  EXPECT_EQ(installer.State(), 2);
  EXPECT_TRUE(installer.Cancelled());
  ASSERT_EQ(installer.Errors().Count(), 1u);
  EXPECT_EQ(installer.Errors()[0], u"Setup was cancelled.");
  EXPECT_EQ(listener.Events.back().Code, NotifyEnded);
  EXPECT_EQ(listener.Events.back().Data, 1);
  installer.RunFinishActions();
  EXPECT_TRUE(Opened.empty());
}

TEST_F(InstallerTest, StartNeedsADestination) {
  TTestInstallerEnvironment environment;
  TestProduct.DefaultPath = u"";
  TInstaller installer(u"");
  try {
    installer.Start(true);
    FAIL() << "no error";
  } catch (const EInstallerInstallError& e) {
    EXPECT_EQ(e.Message(), u"DestPath is empty");
  }
  EXPECT_EQ(installer.State(), 0);
}

TEST_F(InstallerTest, FinishActionsFollowTheOptionsAndTheDefaults) {
  TTestInstallerEnvironment environment;
  {
    TInstaller installer(u"/AUTO=D:\\K /SILENT");
    installer.Start(true);
    installer.Options().WriteBool(u"Actions", u"$DEST\\WhatsNew.html", true);
    installer.RunFinishActions();
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_NE(Opened[0].find(u"D:\\K\\WhatsNew.html"), String::npos);
  }
  Opened.clear();
  {
    // AUTO + UPDATE + RUN: every finish action defaults to on.
    TestProduct.CanUpdate = true;
    TInstaller installer(u"/AUTO=D:\\K /UPDATE /RUN");
    installer.Start(true);
    installer.RunFinishActions();
    EXPECT_EQ(Opened.size(), 2u);
  }
  Opened.clear();
  {
    TTestInstallerEnvironment uninstall(DefaultSetupMembers(), {{u"Uninstall.ini", "[Uninstall]\r\nCount=0\r\n"}});
    TInstaller installer(u"/AUTO /SILENT");
    installer.SetDestPath(u"D:\\K");
    installer.Options().WriteBool(u"Actions", u"$DEST\\KIVO.exe", true);
    installer.Start(true);
    installer.RunFinishActions();
    EXPECT_TRUE(Opened.empty()) << "never in uninstall mode";
  }
}

TEST_F(InstallerTest, AListenerMayRemoveItselfWhileBeingNotified) {
  TTestInstallerEnvironment environment;
  TestProduct.Actions = {ActionClassOf<TRecordAction>()};
  TInstaller installer(u"/AUTO=D:\\K /SILENT");
  struct TSelfRemoving : IInstallerNotify {
    int Calls = 0;
    void Notify(int, intptr_t) override {
      ++Calls;
      Installer->RemoveListener(this);
    }
  } once;
  TRecordingListener first;
  installer.AddListener(&first);
  installer.AddListener(&once);
  installer.Start(true);
  EXPECT_EQ(once.Calls, 1);
  EXPECT_GT(first.Events.size(), 1u) << "the earlier listener still hears everything";
}

TEST_F(InstallerTest, MessagesForgedByAnotherProcessChangeNothing) {
  TTestInstallerEnvironment environment;
  TInstaller installer(u"/AUTO=D:\\K /SILENT");
  struct TCounting : IInstallerNotify {
    void Notify(int, intptr_t) override { ++Calls; }
    int Calls = 0;
  } listener;
  installer.AddListener(&listener);
  zel::THandle forger = StartProcess(Quoted(HelperPath(u"forge_notify.exe")) + u" " +
                                     zel::IntToStr(reinterpret_cast<intptr_t>(installer.NotifyWindow())));
  ASSERT_TRUE(forger);
  ASSERT_TRUE(zel::WaitServingMessages(forger.Get(), 30000, 100));
  EXPECT_EQ(0u, ExitCodeOf(forger.Get())) << "the forger could not reach the window";
  EXPECT_EQ(0, listener.Calls);
  EXPECT_EQ(0, installer.State()) << "a forged \"ended\" must not end the run";
  EXPECT_FALSE(installer.HasErrors()) << "nor report a cancellation";
  // Our own notifications still arrive.
  installer.Notify(NotifyRepaint, 0);
  EXPECT_EQ(1, listener.Calls);
  installer.RemoveListener(&listener);
}
