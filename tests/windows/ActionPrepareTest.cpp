// The prepare action on the worker of a test installer: its summary lines, which update
// tasks a run gets, the order of its status texts and its progress, a backup that fails
// part-way (nothing deleted), and a destination whose subfolder is a link out of it.
#include <windows.h>

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <tuple>

#include "TestInstaller.h"
#include "TestSupport.h"
#include "library/win/KnownFolders.h"
#include "core/InstallerThread.h"
#include "core/SummaryBuilder.h"
#include "library/win/FileSystem.h"
#include "package/InstallerErrors.h"
#include "core/ApplicationRepository.h"
#include "core/ActionExtract.h"
#include "package/win/InstallerResources.h"
#include "product/ActionPrepare.h"
#include "product/SetupHelper.h"
#include "product/SetAside.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

const wchar_t* W(const String& s) { return zel::as_wcstr(s); }

TMembers SetupMembers(const std::string& components = "") {
  TMembers members = DefaultSetupMembers();
  for (auto& [name, data] : members) {
    if (name == u"English.lng")
      data +=
          "A1=Backing up...\r\nA3=Removing...\r\nA5=Migrating...\r\n\r\n[PageSetup]\r\nTitle=Setup\r\n"
          "LB1=Folder:\r\nCB1=Update\r\nCB2=Standard\r\nCB3=Portable\r\nCB4=Backup\r\nW3=Warning\r\n"
          "W4=Newer %s than %s\r\nW5=Update %s instead\r\nW6=Replace %s by %s\r\n";
    if (name == u"Install.xml" && !components.empty())
      data.replace(data.find("<product>"), 9, "<product><Components>" + components + "</Components>");
  }
  return members;
}

struct TPrepareRun {
  TRecordingListener Listener;
  std::unique_ptr<TInstaller> Object;
  TInstallerActionPrepare* Action = nullptr;
  String Error;
};

// Runs only the prepare action on dest; state: installed version, updatable, portable.
void RunPrepare(TPrepareRun& run, const String& dest, const String& params) {
  TestProduct.Actions = {ActionClassOf<TInstallerActionPrepare>()};
  run.Object = std::make_unique<TInstaller>(u"/AUTO=\"" + dest + u"\" /SILENT" + params);
  ChooseLanguage(run.Object->Resources(), false);
  run.Object->AddListener(&run.Listener);
  run.Object->Start(false);
  ASSERT_TRUE(run.Object->Thread()->WaitFor(60000));
  run.Object->RemoveListener(&run.Listener);
  if (run.Object->HasErrors()) run.Error = run.Object->Errors()[0];
}

// Every file below folder as "relative=content", sorted.
std::vector<std::string> Contents(const String& folder) {
  std::vector<std::string> lines;
  WIN32_FIND_DATAW data;
  zel::TFindHandle find(::FindFirstFileW(W(folder + u"\\*"), &data));
  if (!find) return lines;
  do {
    const String name = zel::from_wcstr(data.cFileName);
    if (name == u"." || name == u"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      for (const std::string& line : Contents(folder + u"\\" + name)) lines.push_back(zel::ToUtf8(name) + "\\" + line);
    } else {
      const auto bytes = ReadAll(folder + u"\\" + name);
      lines.push_back(zel::ToUtf8(name) + "=" + std::string(bytes.begin(), bytes.end()));
    }
  } while (::FindNextFileW(find.Get(), &data));
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<String> StatusTexts(const TRecordingListener& listener) {
  std::vector<String> texts;
  for (const auto& e : listener.EventsWithCode(NotifyStatus)) texts.push_back(e.Text);
  return texts;
}

}  // namespace

TEST(ActionPrepare, SummaryByMode) {
  const struct {
    const char* what;
    bool canUpdate, portable;
    int32_t installed;
    const char16_t* params;
    const char16_t* lines;  // after the destination group
    bool userFile = false;  // the destination holds a file of the user's
  } cases[] = {
      {"update", true, false, 4600, u"", u"Setup\r\n    Update\r\n    Backup\r\n"},
      {"update, no backup", true, false, 4600, u" /NOBACKUP", u"Setup\r\n    Update\r\n"},
      {"portable over a version that cannot be updated: replaced, said under the same heading", false, false, 3400,
       u" /PORTABLE", u"Setup\r\n    Portable\r\n    Backup\r\n    Replace 3.40 by 5.10\r\n"},
      {"fresh", false, false, 0, u" /NOBACKUP /PORTABLE", u"Setup\r\n    Portable\r\n"},
      {"fresh into an empty folder: nothing to back up", false, false, 0, u"", u"Setup\r\n    Standard\r\n"},
      {"fresh into a folder with files: they are backed up", false, false, 0, u"",
       u"Setup\r\n    Standard\r\n    Backup\r\n", true},
      {"over a newer version: named, and no advice to update it", false, false, 5200, u"",
       u"Setup\r\n    Standard\r\n    Backup\r\n    Newer 5.20 than 5.10\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TTestInstallerEnvironment environment(SetupMembers());
    TestProduct.CanUpdate = c.canUpdate;
    TestProduct.InstalledVersion = c.installed;
    const String dest = ScratchDir(u"ActionPrepare-summary");
    if (c.userFile) WriteAll(dest + u"\\notes.txt", Bytes("mine"));
    TInstaller installer(u"/AUTO=" + dest + u" /SILENT" + c.params);
    ChooseLanguage(installer.Resources(), false);
    TInstallerSummaryBuilder builder(
        [&](zel::StringView s, zel::StringView k) { return installer.Resources().GetText(s, k); });
    TInstallerActionPrepare().BuildSummary(builder);
    EXPECT_EQ(zel::ToUtf8(builder.ToString()),
              zel::ToUtf8(u"Folder:\r\n    " + installer.DestPath() + u"\r\n\r\n" + c.lines));
  }
}

TEST(ActionPrepare, TasksStatusAndProgress) {
  const struct {
    const char* what;
    bool canUpdate;
    int32_t installed;
    const char16_t* params;
    std::vector<std::string> removals;  // the profile tasks follow, one per profile found
    std::vector<String> status;
  } cases[] = {
      {"update of 4.60", true, 4600, u"", {}, {u"Backing up...", u"Migrating...", u"Removing..."}},
      {"update of 3.60",
       true,
       3600,
       u" /NOBACKUP",
       {"TInstallerUpdateTaskRemoveShellMenu", "TInstallerUpdateTaskRemoveUninstallInfo",
        "TInstallerUpdateTaskRemoveShortcuts"},
       {u"Migrating...", u"Removing..."}},
      {"install over 3.40",
       false,
       3400,
       u"",
       {"TInstallerUpdateTaskRemoveShellMenu", "TInstallerUpdateTaskRemoveUninstallInfo",
        "TInstallerUpdateTaskRemoveShortcuts"},
       {u"Backing up...", u"Migrating...", u"Removing..."}},
      {"portable update", true, 4600, u" /PORTABLE", {}, {u"Backing up...", u"Migrating...", u"Removing..."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TTestInstallerEnvironment environment(SetupMembers());
    TestProduct.CanUpdate = c.canUpdate;
    TestProduct.InstalledVersion = c.installed;
    TestProduct.Portable = String(c.params).find(u"PORTABLE") != String::npos;
    const String dest = ScratchDir(u"ActionPrepare-tasks");
    // A portable profile, and a few files to archive.
    for (const char16_t* name : {u"\\KIVO.ini", u"\\Profile\\KIVO.ini", u"\\Plugins\\Old.dll"}) {
      TSetupHelper::ForceFolder(zel::ExtractFilePath(dest + name));
      WriteAll(dest + name, Bytes("x"));
    }
    TPrepareRun run;
    RunPrepare(run, dest, c.params);
    EXPECT_EQ(run.Error, u"");
    auto& action = static_cast<TInstallerActionPrepare&>(run.Object->Thread()->Actions().Items(0));
    std::vector<std::string> expected = c.removals;
    if (c.canUpdate) expected.insert(expected.end(), action.Profiles().Count(), "TInstallerUpdateTaskUpdateConfigs");
    if (TestProduct.Portable) EXPECT_EQ(action.Profiles().Count(), 1u);
    std::vector<std::string> tasks;
    for (const auto& task : action.Tasks()) tasks.push_back(task->ClassName());
    EXPECT_EQ(tasks, expected);
    EXPECT_EQ(StatusTexts(run.Listener), c.status);
    // Progress only rises, to 100.
    int last = -1;
    bool rising = true;
    for (const auto& e : run.Listener.EventsWithCode(NotifyProgress)) {
      rising = rising && (e.Data & 0xFFFF) >= last;
      last = static_cast<int>(e.Data & 0xFFFF);
    }
    EXPECT_TRUE(rising);
    EXPECT_EQ(last, 100);
  }
}

TEST(ActionPrepare, AFailedBackupDeletesNothing) {
  TTestInstallerEnvironment environment(SetupMembers(R"(<File name="$DEST\KIVO.exe"/>)"));
  TestProduct.CanUpdate = true;
  TestProduct.InstalledVersion = 4600;
  TestProduct.Portable = true;
  const String dest = ScratchDir(u"ActionPrepare-fails");
  const std::vector<String> files = {
      u"\\KIVO.ini",         u"\\KIVO.exe",         u"\\Plugins\\AutoUpdate\\AutoUpdate.dll",
      u"\\Manual.txt",       u"\\!Backup\\z 1.zip", u"\\!Backup\\z 2.zip",
      u"\\!Backup\\z 3.zip", u"\\!Backup\\z 4.zip"};
  for (const String& name : files) {
    TSetupHelper::ForceFolder(zel::ExtractFilePath(dest + name));
    WriteAll(dest + name, Bytes("content of " + zel::ToUtf8(name)));
  }
  // Held by another writer: the backup cannot read it.
  HANDLE held = ::CreateFileW(W(dest + u"\\Manual.txt"), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  TPrepareRun run;
  RunPrepare(run, dest, u"");
  ::CloseHandle(held);
  const String prefix =
      u"An error occurs while backuping the \"" + zel::IncludeTrailingBackslash(dest) + u"Manual.txt\" file (22)\r\n";
  EXPECT_EQ(zel::ToUtf8(run.Error.substr(0, prefix.size())), zel::ToUtf8(prefix));
  for (const String& name : files) EXPECT_TRUE(zel::FileExists(dest + name)) << zel::ToUtf8(name);
  // The partial archive goes at once: it is no backup, and may be what filled the drive.
  WIN32_FIND_DATAW data;
  EXPECT_EQ(::FindFirstFileW(W(dest + u"\\!Backup\\z Before install*"), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(StatusTexts(run.Listener), std::vector<String>{u"Backing up..."});
}

TEST(ActionPrepare, NothingIsDeletedThroughALinkOutOfTheDestination) {
  // Under Wine a folder link is a Unix symlink made inside the prefix.
  using TUnixName = char*(CDECL*)(const wchar_t*);
  const auto unixName =
      reinterpret_cast<TUnixName>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
  const String base = ScratchDir(u"ActionPrepare-link");
  const String dest = base + u"\\Dest", outside = base + u"\\Outside";
  TSetupHelper::ForceFolder(dest);
  TSetupHelper::ForceFolder(outside);
  WriteAll(outside + u"\\Equalizer.dll", Bytes("someone else's"));
  WriteAll(dest + u"\\KIVO.ini", Bytes("[System]"));
  if (unixName) {
    char* from = unixName(W(outside));
    char* to = unixName(W(dest + u"\\Plugins"));
    String command = u"/bin/ln -s \"" + zel::FromUtf8(from) + u"\" \"" + zel::FromUtf8(to) + u"\"";
    ::HeapFree(::GetProcessHeap(), 0, from);
    ::HeapFree(::GetProcessHeap(), 0, to);
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(::CreateProcessW(L"Z:\\bin\\ln", zel::as_wcstr(command), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process));
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    for (int i = 0; i < 500 && !zel::DirectoryExists(dest + u"\\Plugins"); ++i) ::Sleep(10);
  } else if (!::CreateSymbolicLinkW(W(dest + u"\\Plugins"), W(outside),
                                    SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    GTEST_SKIP() << "no symbolic links on this system";
  }
  ASSERT_TRUE(zel::FileExists(dest + u"\\Plugins\\Equalizer.dll"));

  // The new version's file lies behind the link: it must not be deleted there.
  TTestInstallerEnvironment environment(SetupMembers(R"(<File name="$DEST\Plugins\Equalizer.dll"/>)"));
  TestProduct.CanUpdate = true;
  TestProduct.InstalledVersion = 4600;
  TestProduct.Portable = true;
  TPrepareRun run;
  RunPrepare(run, dest, u"");
  EXPECT_EQ(run.Error, u"");
  EXPECT_EQ(ReadAll(outside + u"\\Equalizer.dll"), Bytes("someone else's"));
  // The backup did not walk into the link either: only KIVO.ini was archived.
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(W(dest + u"\\!Backup\\*.zip"), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  ::FindClose(find);
  const auto archive = ReadAll(dest + u"\\!Backup\\" + zel::from_wcstr(data.cFileName));
  const std::string bytes(archive.begin(), archive.end());
  EXPECT_NE(bytes.find("KIVO.ini"), std::string::npos);
  EXPECT_EQ(bytes.find("Equalizer"), std::string::npos);
  if (unixName) {
    String command = u"/bin/rm -f \"" + zel::FromUtf8(unixName(W(dest + u"\\Plugins"))) + u"\"";
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    if (::CreateProcessW(L"Z:\\bin\\rm", zel::as_wcstr(command), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &process)) {
      ::WaitForSingleObject(process.hProcess, 5000);
      ::CloseHandle(process.hThread);
      ::CloseHandle(process.hProcess);
    }
  }
}

TEST(ActionPrepare, AFailedRunPutsEveryFileBackAndAKilledOneIsFinishedByTheNext) {
  TTestInstallerEnvironment environment(
      SetupMembers(R"(<File name="$DEST\KIVO.exe"/><File name="$DEST\Plugins\New.dll"/>)"));
  TestProduct.CanUpdate = true;
  TestProduct.InstalledVersion = 4600;
  TestProduct.Portable = true;
  const String dest = ScratchDir(u"ActionPrepare-undo");
  for (const char16_t* name : {u"\\KIVO.exe", u"\\KIVO.ini", u"\\Plugins\\AutoUpdate\\AutoUpdate.dll",
                               u"\\Profile\\KIVO.ini", u"\\!Backup\\z 1.zip"}) {
    TSetupHelper::ForceFolder(zel::ExtractFilePath(dest + name));
    WriteAll(dest + name, Bytes("old " + zel::ToUtf8(name)));
  }
  const std::vector<std::string> before = Contents(dest);

  // A later step fails: the old files are back as they were, this run's archive is gone.
  TestProduct.Actions = {ActionClassOf<TInstallerActionPrepare>(), ActionClassOf<TFailingStep>()};
  {
    TInstaller installer(u"/AUTO=\"" + dest + u"\" /SILENT");
    ChooseLanguage(installer.Resources(), false);
    installer.Start(false);
    ASSERT_TRUE(installer.Thread()->WaitFor(60000));
    ASSERT_TRUE(installer.HasErrors());
    EXPECT_TRUE(zel::StartsWith(installer.Errors()[0], u"failed on purpose"));
    EXPECT_EQ(installer.Undo(), TInstaller::TUndo::Complete);
  }
  EXPECT_EQ(Contents(dest), before);

  // The same run succeeding: the kept files go with the commit.
  TestProduct.Actions = {ActionClassOf<TInstallerActionPrepare>()};
  TPrepareRun run;
  RunPrepare(run, dest, u"");
  EXPECT_EQ(run.Error, u"");
  EXPECT_FALSE(zel::FileExists(dest + u"\\KIVO.exe"));
  WIN32_FIND_DATAW data;
  EXPECT_EQ(::FindFirstFileW(W(dest + u"\\~KIVO Setup *"), &data), INVALID_HANDLE_VALUE);

  // Killed half-way (the kept files and the journal stay) and then once more after the
  // commit was marked: the next run undoes the first and finishes the second.
  const String killed = ScratchDir(u"ActionPrepare-killed");
  WriteAll(killed + u"\\KIVO.exe", Bytes("old player"));
  TSetupHelper::ForceFolder(killed + u"\\!Backup");
  zel::TFolderTree tree(zel::TSafeFolder::Open(killed));
  using TRepository = TInstallerApplicationRepository;
  const auto version = [](const char16_t* entry) {
    for (const auto& value : TRepository::Save(entry).Values)
      if (value.Name == u"DisplayVersion")
        return zel::ToUtf8(zel::from_wcstr(reinterpret_cast<const wchar_t*>(value.Data.data())));
    return std::string("none");
  };
  {
    TSetAside aside;
    aside.Begin(tree, u"z killed.zip");
    // Its uninstall entry replaced the older version's.
    ASSERT_TRUE(TRepository::Register(u"KIVO Killed", killed + u"\\Uninstall.exe", u"4.60", u"Old", u"x"));
    aside.NoteEntryBefore(TRepository::Save(u"KIVO Killed"));
    ASSERT_TRUE(TRepository::Register(u"KIVO Killed", killed + u"\\Uninstall.exe", u"5.10", u"New", u"x"));
    ASSERT_TRUE(aside.Keep(tree, u"KIVO.exe"));
    aside.NoteMade({u"KIVO.exe", u"Skins\\Dark\\New.skin", u"..\\Outside.txt"});
    WriteAll(killed + u"\\KIVO.exe", Bytes("new player, cut sh"));
    TSetupHelper::ForceFolder(killed + u"\\Skins\\Dark");
    WriteAll(killed + u"\\Skins\\Dark\\New.skin", Bytes("new skin"));
    WriteAll(killed + u"\\!Backup\\z killed.zip", Bytes("an archive of the killed run"));
    // It had deleted a profile's file, archived: the archive holds its only copy.
    aside.NoteDeletedOutside();
  }
  {
    TSetAside done;
    done.Begin(tree, u"z done.zip");
    done.NoteEntryBefore({u"KIVO Done", false, {}});
    ASSERT_TRUE(TRepository::Register(u"KIVO Done", killed + u"\\Uninstall.exe", u"5.10", u"New", u"x"));
    WriteAll(killed + u"\\New.dll", Bytes("new"));
    WriteAll(killed + u"\\Old.dll", Bytes("old"));
    ASSERT_TRUE(done.Keep(tree, u"Old.dll"));
  }
  // The second marked committed by hand, as a run killed while deleting the folder leaves it.
  std::vector<String> asides;
  HANDLE dir = ::FindFirstFileW(W(killed + u"\\~KIVO Setup *"), &data);
  ASSERT_NE(dir, INVALID_HANDLE_VALUE);
  do asides.push_back(zel::from_wcstr(data.cFileName));
  while (::FindNextFileW(dir, &data));
  ::FindClose(dir);
  ASSERT_EQ(asides.size(), 2u);
  for (const String& name : asides)
    if (zel::FileExists(killed + u"\\" + name + u"\\files\\Old.dll"))
      WriteAll(killed + u"\\" + name + u"\\committed", {});
  // A run killed while it wrote its new files ahead: that folder goes whole.
  const String staged = killed + u"\\~KIVO Setup 0123456789ABCDEF\\";
  TSetupHelper::ForceFolder(staged + u"new\\Skins");
  WriteAll(staged + u"journal.txt", Bytes("KIVO Setup journal 1\r\nstaged\r\n"));
  WriteAll(staged + u"new\\Skins\\New.skin", Bytes("new ski"));
  const String outside = zel::ExtractFilePath(killed) + u"Outside.txt";
  WriteAll(outside, Bytes("not the run's"));
  TSetAside::Recover(tree);
  // The killed run's new files and their emptied folder go, a journal naming a file out of
  // the folder is not followed, and the completed run's files stay. Its archive stays under
  // a name that the keep-three rule never counts.
  EXPECT_EQ(Contents(killed), (std::vector<std::string>{"!Backup\\z killed (kept).zip=an archive of the killed run",
                                                        "KIVO.exe=old player", "New.dll=new"}));
  EXPECT_FALSE(zel::DirectoryExists(killed + u"\\Skins\\Dark"));
  EXPECT_FALSE(zel::DirectoryExists(staged));
  EXPECT_TRUE(zel::FileExists(outside));
  ::DeleteFileW(W(outside));
  // The killed run's entry is as it was before it, the completed run's stays, and neither
  // copy is left where they were kept.
  EXPECT_EQ(version(u"KIVO Killed"), "4.60");
  EXPECT_EQ(version(u"KIVO Done"), "5.10");
  for (const String& name : asides) EXPECT_FALSE(TRepository::KeptForUndo(name)) << zel::ToUtf8(name);
  HKEY setupKey = nullptr;
  EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\KIVO Setup", 0, KEY_READ | KEY_WOW64_32KEY, &setupKey),
            ERROR_SUCCESS)
      << "no trace in the registry once no run is pending";
  if (setupKey) ::RegCloseKey(setupKey);
  TRepository::Unregister(u"KIVO Killed");
  TRepository::Unregister(u"KIVO Done");
}

TEST(ActionPrepare, AFailedReplacingRunPutsBackTheUninstallEntryAndTheShortcutsItRemoved) {
  TTestInstallerEnvironment environment(SetupMembers(R"(<File name="$DEST\KIVO.exe"/>)"),
                                        {{u"KIVO.exe", "new player"}});
  TestProduct.InstalledVersion = 4600;  // not updated but replaced: the old registration goes first
  const String dest = ScratchDir(u"ActionPrepare-registration") + u"\\";
  WriteAll(dest + u"KIVO.exe", Bytes("old player"));
  ASSERT_TRUE(TInstallerApplicationRepository::Register(u"KIVO", dest + u"Uninstall.exe", u"4.60", u"Old", u"x"));
  TSavedUninstallEntry entry = TInstallerApplicationRepository::Save(u"KIVO");
  entry.Values.push_back({u"Comments", REG_BINARY, Bytes("a value the setup never writes")});
  ASSERT_TRUE(TInstallerApplicationRepository::Restore(entry));
  const auto values = [] {
    std::vector<std::tuple<String, unsigned long, std::vector<uint8_t>>> list;
    for (const auto& value : TInstallerApplicationRepository::Save(u"KIVO").Values)
      list.emplace_back(value.Name, value.Type, value.Data);
    std::sort(list.begin(), list.end());
    return list;
  };
  const auto before = values();
  const String link = zel::SpecialFolder(CSIDL_DESKTOP) + u"KIVO.lnk";
  const String menu = zel::SpecialFolder(CSIDL_STARTMENU) + u"KIVO\\";
  TSetupHelper::ForceFolder(menu);
  WriteAll(link, Bytes("the desktop link"));
  WriteAll(menu + u"Read Me.lnk", Bytes("a start-menu link"));

  // The extraction, its new files written ahead (the prepare step must not take their
  // folder for a killed run's), registers this run's entry and fails after it.
  TestProduct.Actions = {ActionClassOf<TAheadStep>(), ActionClassOf<TInstallerActionPrepare>(),
                         ActionClassOf<TInstallerActionExtract>(), ActionClassOf<TFailingStep>()};
  {
    TInstaller installer(u"/AUTO=\"" + dest + u"\" /SILENT");
    ChooseLanguage(installer.Resources(), false);
    installer.Start(false);
    ASSERT_TRUE(installer.Thread()->WaitFor(60000));
    ASSERT_TRUE(installer.HasErrors());
    EXPECT_TRUE(zel::StartsWith(installer.Errors()[0], u"failed on purpose")) << zel::ToUtf8(installer.Errors()[0]);
    EXPECT_EQ(installer.Undo(), TInstaller::TUndo::Complete);
  }
  EXPECT_EQ(values(), before);
  EXPECT_EQ(ReadAll(link), Bytes("the desktop link"));
  EXPECT_EQ(ReadAll(menu + u"Read Me.lnk"), Bytes("a start-menu link"));
  EXPECT_EQ(Contents(dest), (std::vector<std::string>{"KIVO.exe=old player"}));
  TInstallerApplicationRepository::Unregister(u"KIVO");
  ::DeleteFileW(W(link));
  TSetupHelper::DeleteFolder(menu, false);
}
