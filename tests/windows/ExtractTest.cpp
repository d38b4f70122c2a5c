// The files step on the real installer and worker: which entries are written, progress,
// and targets held open by another process (file_holder.exe), with the question on a
// locked file answered from outside through uidriver.exe, as a user would click it.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "FileHolder.h"
#include "HelperProcess.h"
#include "TestInstaller.h"
#include "TestSupport.h"
#include "package/InstallerErrors.h"
#include "core/InstallerThread.h"
#include "core/ActionExtract.h"
#include "core/ExtractHelper.h"
#include "core/StagedFiles.h"
#include "library/FileWriteError.h"
#include "library/Streams.h"
#include "platform/Platform.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

constexpr wchar_t kQuestionCaption[] = L"KIVO Setup";  // "Common"/"Caption" of the test language

std::string ScriptWith(const std::string& components) {
  std::string xml = DefaultInstallXml();
  xml.replace(xml.find("<product>"), 9, "<product><Components>" + components + "</Components>");
  return xml;
}

std::string EnglishWithFamily(const std::string& family) {
  std::string lng = DefaultEnglishLng();
  lng.replace(lng.find("Family=EN"), 9, "Family=" + family);
  return lng;
}

TMembers SetupWith(const std::string& components, const std::string& family = "EN") {
  return {{u"Install.xml", ScriptWith(components)}, {u"English.lng", EnglishWithFamily(family)}};
}

std::string ReadText(const String& path) {
  const std::vector<uint8_t> bytes = ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

// Portable, so that no uninstall entry is left in the registry by these runs.
String Params(const String& dest) { return u"/AUTO=" + dest + u" /PORTABLE /SILENT"; }

// Runs the installer's actions to their end, serving the worker's calls meanwhile.
void RunToEnd(TInstaller& installer) {
  installer.Start(false);
  ASSERT_TRUE(installer.Thread()->WaitFor(60000)) << "the run did not end";
}

struct TCaptured {
  DWORD ExitCode = 0xFFFFFFFF;
  std::string Output;
};

TCaptured RunCaptured(const String& commandLine) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readRaw = nullptr, writeRaw = nullptr;
  TCaptured run;
  if (!::CreatePipe(&readRaw, &writeRaw, &inherit, 0)) return run;
  zel::THandle readEnd(readRaw), writeEnd(writeRaw);
  ::SetHandleInformation(readRaw, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeRaw;
  startup.hStdError = writeRaw;
  String command = commandLine;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, zel::as_wcstr(command), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info))
    return run;
  zel::THandle process(info.hProcess), thread(info.hThread);
  writeEnd.Reset();
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(readRaw, buffer, sizeof(buffer), &got, nullptr) && got > 0) run.Output.append(buffer, got);
  ::WaitForSingleObject(process.Get(), 30000);
  ::GetExitCodeProcess(process.Get(), &run.ExitCode);
  return run;
}

String UiDriver() { return Quoted(HelperPath(u"uidriver\\uidriver.exe")); }

// Plays the user at the locked-file question from its own thread while the main thread
// serves the message box: reads the box's texts and clicks the planned buttons in turn
// through uidriver.exe. An unplanned question is answered with Abort, so a wrong run ends
// (with an error) instead of hanging.
class TQuestionAnswerer {
public:
  struct TStep {
    const char16_t* Button;
    std::function<void()> Before;  // runs once the box is up, before the click
  };
  explicit TQuestionAnswerer(std::vector<TStep> steps = {}) : FSteps(std::move(steps)) {
    FThread = std::thread([this] { Watch(); });
  }
  ~TQuestionAnswerer() { Stop(); }
  void Stop() {
    FStop = true;
    if (FThread.joinable()) FThread.join();
  }
  // Valid after Stop.
  int Questions = 0;
  std::vector<std::string> Texts;

private:
  void Watch() {
    const String window = u" --class \"#32770\" --title \"" + zel::from_wcstr(kQuestionCaption) + u"\"";
    while (!FStop) {
      HWND box = ::FindWindowW(L"#32770", kQuestionCaption);
      if (!box || !::IsWindowVisible(box)) {
        ::Sleep(20);
        continue;
      }
      Texts.push_back(RunCaptured(UiDriver() + u" texts" + window).Output);
      const char16_t* button = u"&Abort";
      if (static_cast<size_t>(Questions) < FSteps.size()) {
        const TStep& step = FSteps[static_cast<size_t>(Questions)];
        if (step.Before) step.Before();
        button = step.Button;
      }
      ++Questions;
      RunCaptured(UiDriver() + u" click" + window + u" --button \"" + button + u"\"");
      for (int i = 0; i < 500 && ::IsWindow(box); ++i) ::Sleep(20);
    }
  }

  std::vector<TStep> FSteps;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

// Notes, at each progress report of the files step, how many of the expected files exist.
class TProgressProbe : public IInstallerNotify {
public:
  explicit TProgressProbe(std::vector<String> files) : FFiles(std::move(files)) {}
  void Notify(int code, intptr_t data) override {
    if (code == NotifyStatus) Statuses.push_back(reinterpret_cast<const char16_t*>(data));
    if (code != NotifyProgress) return;
    int present = 0;
    for (const String& file : FFiles) present += FileExists(file);
    Reports.push_back({static_cast<int>(data & 0xFFFF), present});
  }
  std::vector<std::pair<int, int>> Reports;  // percent of the step, files present
  std::vector<String> Statuses;

private:
  std::vector<String> FFiles;
};

// A run's private folder ("~KIVO Setup …") left in the destination.
bool HasRunFolder(const String& dest) {
  WIN32_FIND_DATAW data;
  return static_cast<bool>(zel::TFindHandle(::FindFirstFileW(zel::as_wcstr(dest + u"\\~KIVO Setup *"), &data)));
}

}  // namespace

TEST(ExtractTest, WritesTheEntriesOfTheChosenFamilyAndReportsProgressBeforeEachFile) {
  const std::string components = R"(<File name="$DEST\KIVO.exe"/>)"
                                 R"(<File name="$DEST\Readme.txt" lang-family="EN">Readme_EN.txt</File>)"
                                 R"(<File name="$DEST\Readme.txt" lang-family="DE">Readme_DE.txt</File>)"
                                 R"(<File name="$DEST\Plugins\a.dll"/>)"
                                 R"(<File name="$DEST\Lang\English.txt" lang-family="en"/>)";
  const TMembers product = {{u"KIVO.exe", "player"},         {u"Readme_EN.txt", "read me"},
                            {u"Readme_DE.txt", "lies mich"}, {u"a.dll", "plugin a"},
                            {u"English.txt", "english"},     {u"Plugins\\a.dll", "wrong member"}};
  struct Case {
    const char* family;  // of the chosen language file
    const char* readme;
    bool english;
    std::vector<std::pair<int, int>> reports;  // (percent, files already present)
  };
  const Case cases[] = {
      // Family-less entries and the language's own, compared case-insensitively ("en" in the script).
      {"EN", "read me", true, {{0, 0}, {25, 0}, {50, 1}, {75, 2}, {100, 3}}},
      {"de", "lies mich", false, {{0, 0}, {33, 0}, {66, 1}, {100, 2}}},
  };
  // Written in place, and written ahead into a run folder and then put in place: the same.
  for (const bool ahead : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.family) + (ahead ? ", written ahead" : ""));
      const String dest = ScratchDir(u"ExtractTest-family");
      TTestInstallerEnvironment environment(SetupWith(components, c.family), product);
      TestProduct.Actions = {ActionClassOf<TInstallerActionExtract>()};
      if (ahead) TestProduct.Actions.insert(TestProduct.Actions.begin(), ActionClassOf<TAheadStep>());
      TInstaller installer(Params(dest));
      ChooseLanguage(installer.Resources(), false);
      std::vector<String> kept = {dest + u"\\KIVO.exe", dest + u"\\Readme.txt", dest + u"\\Plugins\\a.dll"};
      if (c.english) kept.push_back(dest + u"\\Lang\\English.txt");
      TProgressProbe probe(kept);
      installer.AddListener(&probe);
      RunToEnd(installer);
      installer.RemoveListener(&probe);

      ASSERT_FALSE(installer.HasErrors()) << zel::ToUtf8(installer.Errors()[0]);
      EXPECT_EQ(ReadText(dest + u"\\KIVO.exe"), "player");
      EXPECT_EQ(ReadText(dest + u"\\Readme.txt"), c.readme);
      EXPECT_EQ(ReadText(dest + u"\\Plugins\\a.dll"), "plugin a") << "the member named like the target file";
      EXPECT_EQ(FileExists(dest + u"\\Lang\\English.txt"), c.english);
      EXPECT_EQ(FileExists(dest + u"\\Lang"), c.english) << "no folder for an entry that is not written";
      EXPECT_TRUE(FileExists(dest + u"\\Uninstall.dat")) << "the registration follows the files";
      std::vector<std::pair<int, int>> reports = c.reports;
      if (ahead) reports.insert(reports.begin(), {{0, 0}, {100, 0}});  // the step before, nothing in place yet
      EXPECT_EQ(probe.Reports, reports);
      EXPECT_EQ(probe.Statuses, (std::vector<String>{u"Copying files...", u"Files copied."}));
      EXPECT_FALSE(HasRunFolder(dest));
    }
}

TEST(ExtractTest, ATargetHeldOpenByAnotherProgram) {
  const std::string components = R"(<File name="$DEST\first.txt"/><File name="$DEST\locked.dll"/>)"
                                 R"(<File name="$DEST\last.txt"/>)";
  const TMembers product = {{u"first.txt", "first"}, {u"locked.dll", "new build"}, {u"last.txt", "last"}};
  struct Case {
    const char* name;
    const char16_t* share;                 // of the holder
    const char* onDisk;                    // the locked file's bytes before the run
    std::vector<const char16_t*> answers;  // buttons clicked; "release" first lets the holder go
    int questions;
    const char* expected;  // the locked file's bytes after the run
    bool backup;           // locked.dll.bak holds the old bytes
    bool lastWritten;
    const char* error;  // start of the run's error, with %s for the target
  };
  const Case cases[] = {
      {"same bytes: left alone", u"read", "new build", {}, 0, "new build", false, true, nullptr},
      {"renamed aside", u"readdelete", "old build", {}, 0, "new build", true, true, nullptr},
      {"retry twice", u"read", "old build", {u"&Retry", u"release", u"&Retry"}, 2, "new build", false, true, nullptr},
      {"abort",
       u"read",
       "old build",
       {u"&Abort"},
       1,
       "old build",
       false,
       false,
       "Installation aborted: %s is in use.\r\n"},
      {"ignore", u"read", "old build", {u"&Ignore"}, 1, "old build", false, true, nullptr},
      {"not even readable", u"none", "old build", {}, 0, "old build", false, false, "Cannot open file \"%s\"."},
  };
  // A copy written ahead cannot be put over a file in use: it is written the ordinary way.
  for (const bool ahead : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (ahead ? ", written ahead" : ""));
      const String root = ScratchDir(u"ExtractTest-locked");
      const String dest = root + u"\\dest";
      const String target = dest + u"\\locked.dll";
      ::CreateDirectoryW(zel::as_wcstr(dest), nullptr);
      WriteAll(target, Bytes(c.onDisk));
      TFileHolder holder(target, c.share, root);
      ASSERT_TRUE(holder.Holding());

      std::vector<TQuestionAnswerer::TStep> steps;
      for (size_t i = 0; i < c.answers.size(); ++i) {
        if (String(c.answers[i]) == u"release") continue;
        const bool release = i > 0 && String(c.answers[i - 1]) == u"release";
        steps.push_back({c.answers[i], release ? std::function<void()>([&] { holder.Release(); }) : nullptr});
      }
      TTestInstallerEnvironment environment(SetupWith(components), product);
      TestProduct.Actions = {ActionClassOf<TInstallerActionExtract>()};
      if (ahead) TestProduct.Actions.insert(TestProduct.Actions.begin(), ActionClassOf<TAheadStep>());
      TInstaller installer(Params(dest));
      ChooseLanguage(installer.Resources(), false);
      TQuestionAnswerer answerer(steps);
      RunToEnd(installer);
      answerer.Stop();
      holder.Release();

      EXPECT_EQ(answerer.Questions, c.questions);
      const std::string path = zel::ToUtf8(installer.DestPath() + u"locked.dll");
      for (const std::string& texts : answerer.Texts)
        EXPECT_NE(texts.find("The file " + path + " is in use."), std::string::npos) << texts;
      EXPECT_EQ(ReadText(target), c.expected);
      EXPECT_EQ(FileExists(target + u".bak"), c.backup);
      if (c.backup) {
        EXPECT_EQ(ReadText(target + u".bak"), c.onDisk);
      }
      // A failed run is undone: what it wrote before the locked file goes again.
      EXPECT_EQ(FileExists(dest + u"\\first.txt"), !c.error) << "written before the locked file";
      EXPECT_EQ(FileExists(dest + u"\\last.txt"), c.lastWritten);
      if (c.error) {
        ASSERT_EQ(installer.Errors().Count(), 1u);
        const std::string error = zel::ToUtf8(installer.Errors()[0]);
        std::string expected = c.error;
        expected.replace(expected.find("%s"), 2, path);
        EXPECT_EQ(error.substr(0, expected.size()), expected);
      } else {
        EXPECT_FALSE(installer.HasErrors()) << zel::ToUtf8(installer.Errors()[0]);
      }
      EXPECT_FALSE(HasRunFolder(dest));
    }
}

TEST(ExtractTest, AMissingMemberStopsTheStepAfterTheEarlierFiles) {
  const String dest = ScratchDir(u"ExtractTest-missing");
  TTestInstallerEnvironment environment(
      SetupWith(R"(<File name="$DEST\one.txt"/><File name="$DEST\Sub\two.txt">gone.txt</File>)"
                R"(<File name="$DEST\three.txt"/>)"),
      {{u"one.txt", "1"}, {u"three.txt", "3"}});
  {
    TestProduct.Actions = {ActionClassOf<TInstallerActionExtract>()};
    TInstaller installer(Params(dest));
    ChooseLanguage(installer.Resources(), false);
    RunToEnd(installer);
    ASSERT_EQ(installer.Errors().Count(), 1u);
    EXPECT_TRUE(zel::StartsWith(installer.Errors()[0], u"Cannot locate \"gone.txt\" file in setup archive\r\n"))
        << zel::ToUtf8(installer.Errors()[0]);
    // The earlier file was written, and went again when the failed run was undone.
    EXPECT_FALSE(FileExists(dest + u"\\one.txt"));
    EXPECT_FALSE(FileExists(dest + u"\\Sub\\two.txt"));
    EXPECT_FALSE(FileExists(dest + u"\\three.txt"));
    EXPECT_FALSE(FileExists(dest + u"\\Uninstall.dat")) << "no registration for a failed step";
  }

  // Written ahead, the failure ends the step that let the writing begin: the next step
  // (one that would fail otherwise) never runs, and the folder of new files goes.
  TestProduct.Actions = {ActionClassOf<TAheadStep>(), ActionClassOf<TFailingStep>(),
                         ActionClassOf<TInstallerActionExtract>()};
  TInstaller ahead(Params(dest));
  ChooseLanguage(ahead.Resources(), false);
  RunToEnd(ahead);
  ASSERT_EQ(ahead.Errors().Count(), 1u);
  EXPECT_TRUE(zel::StartsWith(ahead.Errors()[0], u"Cannot locate \"gone.txt\" file in setup archive\r\n"))
      << zel::ToUtf8(ahead.Errors()[0]);
  EXPECT_FALSE(FileExists(dest + u"\\one.txt"));
  EXPECT_FALSE(HasRunFolder(dest));
}

TEST(ExtractTest, ACancelStopsTheFilesWrittenAheadAndLeavesNothingOfThem) {
  const String dest = ScratchDir(u"ExtractTest-cancel-ahead");
  TTestInstallerEnvironment environment(SetupWith(R"(<File name="$DEST\a.dll"/><File name="$DEST\b.dll"/>)"),
                                        {{u"a.dll", std::string(1 << 20, 'a')}, {u"b.dll", "b"}});
  TInstaller installer(Params(dest));
  ChooseLanguage(installer.Resources(), false);
  const TInstallerScriptGroup& components = installer.Resources().Script().Components;
  const std::vector<TStagedFiles::TItem> items = {{&components.Items(0), u"a.dll"}, {&components.Items(1), u"b.dll"}};
  // Without a cancel, every item; with one that comes while the list is made (the first
  // thing the writing thread does), none, and the wait says so rather than succeed.
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled" : "not cancelled");
    std::atomic<bool> cancelled{false};
    {
      TStagedFiles staged(
          dest,
          [&] {
            cancelled = cancel;
            return items;
          },
          cancelled);
      const String folder = dest + u"\\" + staged.Name() + u"\\new\\";
      EXPECT_EQ(staged.Wait(), !cancel);
      EXPECT_EQ(FileExists(folder + u"a.dll"), !cancel);
      EXPECT_EQ(FileExists(folder + u"b.dll"), !cancel);
    }
    EXPECT_FALSE(HasRunFolder(dest));
  }
}

TEST(ExtractTest, ForceFolderCreatesParentsOrRaisesE3WithThePath) {
  const String root = ScratchDir(u"ExtractTest-folders");
  WriteAll(root + u"\\blocker", Bytes("a file, not a folder"));
  TTestInstallerEnvironment environment;
  TInstaller installer(Params(root));
  ChooseLanguage(installer.Resources(), false);
  TInstallerExtractHelper& helper = installer.ExtractHelper();

  helper.ForceFolder(root + u"\\a\\b\\c\\");
  EXPECT_TRUE(FileExists(root + u"\\a\\b\\c"));
  helper.ForceFolder(root + u"\\a\\b\\c\\");  // already there
  helper.ForceFolder(root + u"\\a\\b\\d");    // no trailing backslash

  for (const String& folder : {root + u"\\blocker\\", root + u"\\blocker\\sub\\deeper\\"}) {
    try {
      helper.ForceFolder(folder);
      ADD_FAILURE() << "no error for " << zel::ToUtf8(folder);
    } catch (const EInstallerInstallError& e) {
      EXPECT_EQ(e.Message(), u"Cannot create the folder " + folder + u".");
    }
  }
  EXPECT_TRUE(FileExists(root + u"\\a\\b\\d"));
}

TEST(ExtractHelper, AFailedWriteNamesTheFileAndTheCauseInWords) {
  // A stream that cannot write: the error names its file and the system's reason, and the
  // reason's code stays for the step to put in words.
  const String file = ScratchDir(u"Extract-write-error") + u"\\Readonly.dll";
  WriteAll(file, Bytes("x"));
  zel::TFileStream stream(file, zel::FileMode::OpenRead);
  const uint8_t data[16] = {};
  try {
    stream.WriteBuffer(data, sizeof data);
    ADD_FAILURE() << "written through a read-only handle";
  } catch (const zel::EWriteError& e) {
    const std::string text = zel::ToUtf8(e.Message());
    EXPECT_EQ(text.rfind("Cannot write the file \"" + zel::ToUtf8(file) + "\". ", 0), 0u) << text;
    EXPECT_GT(text.size(), zel::ToUtf8(file).size() + 26) << "no reason given: " << text;
  }
  EXPECT_EQ(zel::LastFileWriteError(), static_cast<unsigned>(ERROR_ACCESS_DENIED));

  TTestInstallerEnvironment environment;
  TInstaller installer(u"");
  ChooseLanguage(installer.Resources(), false);
  struct Case {
    unsigned error;
    std::string expected;
  };
  const Case cases[] = {
      {ERROR_DISK_FULL, "The file \"C:\\KIVO\\a.dll\" could not be written: the disk C: is full."},
      {ERROR_HANDLE_DISK_FULL, "The file \"C:\\KIVO\\a.dll\" could not be written: the disk C: is full."},
      {ERROR_ACCESS_DENIED, "The file \"C:\\KIVO\\a.dll\" could not be written: " +
                                zel::ToUtf8(zel::Trim(zel::platform::SystemErrorMessage(ERROR_ACCESS_DENIED)))},
  };
  for (const Case& c : cases)
    EXPECT_EQ(zel::ToUtf8(WriteFailureText(u"C:\\KIVO\\a.dll", c.error)), c.expected) << c.error;
}
