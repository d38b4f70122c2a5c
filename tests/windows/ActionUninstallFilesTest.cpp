// Removal: which listed names may be deleted, the folder list for each choice of the
// uninstall options, and a whole run next to files and links outside the program folder.
// Under Wine the links are Unix symlinks made inside the prefix; on Windows,
// CreateSymbolicLinkW.
#include <windows.h>

#include <gtest/gtest.h>

#include "HelperProcess.h"
#include "TestInstaller.h"
#include "TestLinks.h"
#include "TestSupport.h"
#include "library/win/KnownFolders.h"
#include "core/InstallerThread.h"
#include "library/win/FileSystem.h"
#include "library/win/UserAccounts.h"
#include "product/ActionUninstallFiles.h"
#include "product/ActionUninstallIntegration.h"
#include "core/ApplicationRepository.h"
#include "core/RestartRequired.h"
#include "library/IniFile.h"
#include "library/win/Handles.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;
using TFolderEntry = TInstallerActionUninstallFiles::TFolderEntry;

namespace {

const wchar_t* W(const String& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// ScratchDir cannot remove a tree that holds links.
String LinkSafeScratch(const String& name) {
  RemoveLinkedTree(ScratchDir(name));
  return ScratchDir(name);
}

void Folder(const String& path) { ::CreateDirectoryW(W(path), nullptr); }

// An uninstaller's installer object for dest, with the options given, and the step.
struct TUninstallRun {
  TUninstallRun(const String& dest, const String& params, const std::string& uninstallIni,
                const std::vector<std::pair<String, String>>& common)
      : Environment(DefaultSetupMembers(), {{u"Uninstall.ini", uninstallIni}}), Installer(params) {
    ChooseLanguage(Installer.Resources(), false);
    Installer.SetDestPath(dest);
    for (const auto& [key, value] : common) Installer.Options().WriteString(u"Common", key, value);
  }
  TTestInstallerEnvironment Environment;
  TInstaller Installer;
};

// Runs the given steps of an uninstall of dest to their end.
void RunSteps(TUninstallRun& run, std::vector<TInstallerActionClass> steps) {
  TestProduct.Actions = std::move(steps);
  run.Installer.Start(false);
  ASSERT_TRUE(run.Installer.Thread()->WaitFor(60000));
  EXPECT_FALSE(run.Installer.HasErrors());
}

// The files that Windows deletes or renames at the next restart.
String PendingAtRestart() {
  wchar_t buffer[16384] = {};
  DWORD size = sizeof buffer - 4;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
    return {};
  String text = zel::from_wcstr(buffer, size / sizeof(wchar_t));
  std::replace(text.begin(), text.end(), u'\0', u'|');
  return text;
}

std::string Relative(const String& dest, const std::vector<TFolderEntry>& list) {
  std::string text;
  for (const TFolderEntry& entry : list) {
    const String path = zel::StartsWithText(entry.Path, dest) ? entry.Path.substr(dest.size()) : entry.Path;
    text += (text.empty() ? "" : " ") + zel::ToUtf8(path.empty() ? u"<dest>" : path) + (entry.WithContents ? "*" : "");
  }
  return text;
}

}  // namespace

TEST(ActionUninstallFiles, ListedNamesThatLeaveTheFolderAreRefused) {
  const String scratch = LinkSafeScratch(u"UninstallFiles-names");
  const String dest = scratch + u"\\KIVO\\";
  Folder(dest);
  Folder(scratch + u"\\outside");
  const bool link = MakeLink(dest + u"Out", scratch + u"\\outside", true);
  struct Case {
    const char16_t* entry;
    const char16_t* expected;  // relative to dest; null: refused
  };
  const Case cases[] = {
      {u"KIVO.exe", u"KIVO.exe"},
      {u"Plugins\\Equalizer.dll", u"Plugins\\Equalizer.dll"},
      {u"Plugins/Equalizer.dll", u"Plugins\\Equalizer.dll"},
      {u"Plugins\\..\\KIVO.exe", u"KIVO.exe"},
      {u".\\KIVO.exe", u"KIVO.exe"},
      {u"..\\..\\Windows\\win.ini", nullptr},
      {u"Plugins\\..\\..\\win.ini", nullptr},
      {u"../outside/victim.txt", nullptr},
      {u"C:\\Windows\\win.ini", nullptr},
      {u"C:win.ini", nullptr},
      {u"\\Windows\\win.ini", nullptr},
      {u"\\\\server\\share\\file.txt", nullptr},
      {u"\\\\?\\C:\\Windows\\win.ini", nullptr},
      {u"KIVO.exe:stream", nullptr},
      {u"...\\win.ini", nullptr},
      {u"", nullptr},
      {u".", nullptr},
      {u"Plugins\\..", nullptr},
  };
  for (const Case& c : cases) {
    String path, reason;
    const bool taken = TInstallerActionUninstallFiles::ResolveListedFile(dest, c.entry, path, reason);
    EXPECT_EQ(taken, c.expected != nullptr) << zel::ToUtf8(c.entry) << ": " << zel::ToUtf8(reason);
    if (c.expected) EXPECT_EQ(path, dest + c.expected) << zel::ToUtf8(c.entry);
    if (!taken) EXPECT_FALSE(reason.empty()) << zel::ToUtf8(c.entry);
  }
  if (link) {
    String path, reason;
    EXPECT_FALSE(TInstallerActionUninstallFiles::ResolveListedFile(dest, u"Out\\victim.txt", path, reason));
  }
}

TEST(ActionUninstallFiles, TheProgramFolderGoesWholeOnlyWithItsOwnUninstaller) {
  const String scratch = ScratchDir(u"UninstallFiles-owner");
  const String running = scratch + u"\\temp\\";
  const String dest = scratch + u"\\KIVO\\";
  Folder(running);
  Folder(dest);
  WriteAll(running + u"Uninstall.exe", Bytes("uninstaller"));
  WriteAll(running + u"Uninstall.dat", Bytes("data of this installation"));
  String reason;
  EXPECT_FALSE(TInstallerActionUninstallFiles::HoldsUninstaller(dest, running + u"Uninstall.exe", reason));
  WriteAll(dest + u"Uninstall.exe", Bytes("uninstaller"));
  WriteAll(dest + u"Uninstall.dat", Bytes("data of another installation"));
  EXPECT_FALSE(TInstallerActionUninstallFiles::HoldsUninstaller(dest, running + u"Uninstall.exe", reason));
  WriteAll(dest + u"Uninstall.dat", Bytes("data of this installation"));
  EXPECT_TRUE(TInstallerActionUninstallFiles::HoldsUninstaller(dest, running + u"Uninstall.exe", reason));
  // A folder no setup may use is refused even with the right files in it.
  const String windows = zel::SpecialFolder(0x24 /* CSIDL_WINDOWS */);
  EXPECT_FALSE(TInstallerActionUninstallFiles::HoldsUninstaller(windows, running + u"Uninstall.exe", reason));
  EXPECT_FALSE(reason.empty());
}

TEST(ActionUninstallFiles, FolderListFollowsTheOptions) {
  const String scratch = LinkSafeScratch(u"UninstallFiles-folders");
  const String dest = scratch + u"\\KIVO\\";
  const String running = scratch + u"\\temp\\";
  for (const char16_t* folder : {u"", u"A\\", u"A\\A1\\", u"B\\", u"!Backup\\", u"Profile\\"}) Folder(dest + folder);
  Folder(scratch + u"\\outside");
  Folder(scratch + u"\\outside\\deep");
  const bool link = MakeLink(dest + u"A\\Out", scratch + u"\\outside", true);
  Folder(running);
  for (const String& folder : {running, dest}) {
    WriteAll(folder + u"Uninstall.exe", Bytes("uninstaller"));
    WriteAll(folder + u"Uninstall.dat", Bytes("data"));
  }
  const std::string children = "!Backup\\ A\\A1\\ A\\ B\\ Profile\\";
  struct Case {
    const char* what;
    const char16_t* params;
    std::vector<std::pair<String, String>> common;
    bool ownUninstaller;
    std::string expected;
  };
  const Case cases[] = {
      {"interactive, defaults", u"", {}, true, children},
      {"Auto: backups go by default", u"/AUTO /SILENT", {}, true, children + " !Backup\\*"},
      {"Auto, backups kept", u"/AUTO", {{u"RemoveBackups", u"0"}}, true, children},
      {"content only: the portable profile", u"", {{u"RemoveContent", u"1"}}, true, children + " Profile\\*"},
      {"content and backups: what the setup made, then the folder if empty",
       u"/AUTO",
       {{u"RemoveContent", u"1"}},
       true,
       children + " !Backup\\* Profile\\* <dest>"},
      {"content and backups, another uninstaller",
       u"/AUTO",
       {{u"RemoveContent", u"1"}},
       false,
       children + " !Backup\\* Profile\\*"},
  };
  for (const Case& c : cases) {
    TUninstallRun run(dest, c.params, "[Uninstall]\r\nCount=0\r\n", c.common);
    TInstallerActionUninstallFiles action;
    action.UninstallerFile = c.ownUninstaller ? running + u"Uninstall.exe" : scratch + u"\\nothing.exe";
    EXPECT_EQ(Relative(dest, action.BuildFolderList()), c.expected) << c.what;
  }
  EXPECT_TRUE(link) << "no link was made: the link case was not tried";
}

TEST(ActionUninstallFiles, PerUserContentTakesEveryAccountsProfileInsideItsAppData) {
  const String scratch = ScratchDir(u"UninstallFiles-accounts");
  const String dest = scratch + u"\\KIVO\\";
  Folder(dest);
  WriteAll(dest + u"KIVO.ini", Bytes("[System]\r\nUserMode=1\r\n"));
  // A second account, never loaded: its folders come from the default hive.
  const String other = scratch + u"\\OtherUser";
  Folder(other);
  const String key = String(zel::TZELUserAccounts::ProfileListKey) + u"\\S-1-5-21-4242-4242-4242-1001";
  HKEY handle = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(key), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr), 0);
  ::RegSetValueExW(handle, L"ProfileImagePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(W(other)),
                   static_cast<DWORD>((other.size() + 1) * 2));
  ::RegCloseKey(handle);

  zel::TZELUserAccountInfoList accounts;
  zel::TZELUserAccounts::Populate(accounts);
  std::vector<String> expected;
  for (const auto& account : accounts) expected.push_back(account->AppDataPath + u"KIVO\\");
  std::vector<String> seen;
  {
    TUninstallRun run(dest, u"", "[Uninstall]\r\nCount=0\r\n", {{u"RemoveContent", u"1"}});
    TInstallerActionUninstallFiles action;
    for (const TFolderEntry& entry : action.BuildFolderList())
      if (entry.WithContents && !zel::StartsWithText(entry.Path, dest)) seen.push_back(entry.Path);
  }
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, W(key));
  EXPECT_GE(expected.size(), 2u);
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(zel::StartsWithText(seen.back(), other + u"\\")) << zel::ToUtf8(seen.back());

  // Not per-user: no account's folder.
  WriteAll(dest + u"KIVO.ini", Bytes("[System]\r\nUserMode=0\r\n"));
  TUninstallRun run(dest, u"", "[Uninstall]\r\nCount=0\r\n", {{u"RemoveContent", u"1"}});
  TInstallerActionUninstallFiles action;
  EXPECT_EQ(Relative(dest, action.BuildFolderList()), "Profile\\*");

  // A profile path that is not strictly inside the account's folder is never taken.
  EXPECT_FALSE(TInstallerActionUninstallFiles::IsStrictlyInside(other + u"\\", other + u"\\"));
  EXPECT_FALSE(TInstallerActionUninstallFiles::IsStrictlyInside(other + u"\\", other + u"\\..\\"));
  EXPECT_FALSE(TInstallerActionUninstallFiles::IsStrictlyInside(other + u"\\", scratch + u"\\"));
  EXPECT_TRUE(TInstallerActionUninstallFiles::IsStrictlyInside(other + u"\\", other + u"\\KIVO\\"));
}

TEST(ActionUninstallFiles, ARunDeletesListedFilesAndEmptyFoldersAndNothingOutside) {
  const String scratch = LinkSafeScratch(u"UninstallFiles-run");
  const String dest = scratch + u"\\KIVO\\";
  const String outside = scratch + u"\\outside\\";
  for (const String& folder : {dest, dest + u"Plugins\\", dest + u"Skins\\", dest + u"Skins\\Old\\", outside})
    Folder(folder);
  for (const char16_t* file : {u"KIVO.exe", u"Plugins\\Equalizer.dll", u"Skins\\Default.skin", u"User.txt"})
    WriteAll(dest + file, Bytes("x"));
  WriteAll(outside + u"victim.txt", Bytes("keep"));
  WriteAll(outside + u"a.txt", Bytes("keep"));
  const bool link = MakeLink(dest + u"Plugins\\Out", outside, true);
  const std::string list =
      "[Uninstall]\r\nCount=8\r\n0=KIVO.exe\r\n1=Plugins\\Equalizer.dll\r\n"
      "2=Skins\\Default.skin\r\n"
      "3=..\\outside\\victim.txt\r\n4=" +
      zel::ToUtf8(outside) +
      "a.txt\r\n"
      "5=Plugins\\Out\\victim.txt\r\n6=KIVO.exe\r\n7=Plugins\\Out\r\n";
  {
    TUninstallRun run(dest, u"/AUTO /SILENT", list, {});
    TestProduct.Actions = {ActionClassOf<TInstallerActionUninstallFiles>(),
                           ActionClassOf<TInstallerActionUninstallEntry>()};
    run.Installer.Start(false);
    ASSERT_TRUE(run.Installer.Thread()->WaitFor(60000));
    EXPECT_FALSE(run.Installer.HasErrors());
  }
  for (const char16_t* gone : {u"KIVO.exe", u"Plugins\\Equalizer.dll", u"Skins\\Default.skin"})
    EXPECT_FALSE(FileExists(dest + gone)) << zel::ToUtf8(gone);
  EXPECT_FALSE(zel::DirectoryExists(dest + u"Skins\\"));  // emptied, and its empty child too
  EXPECT_TRUE(FileExists(dest + u"User.txt"));            // not listed
  EXPECT_TRUE(FileExists(outside + u"victim.txt"));
  EXPECT_TRUE(FileExists(outside + u"a.txt"));
  EXPECT_TRUE(link) << "no link was made: the link case was not tried";

  // "Count" 0: no file goes, empty folders still do.
  Folder(dest + u"Empty\\");
  WriteAll(dest + u"KIVO.exe", Bytes("x"));
  {
    TUninstallRun run(dest, u"/AUTO /SILENT", "[Uninstall]\r\nCount=0\r\n0=KIVO.exe\r\n", {});
    TestProduct.Actions = {ActionClassOf<TInstallerActionUninstallFiles>(),
                           ActionClassOf<TInstallerActionUninstallEntry>()};
    run.Installer.Start(false);
    ASSERT_TRUE(run.Installer.Thread()->WaitFor(60000));
  }
  EXPECT_TRUE(FileExists(dest + u"KIVO.exe"));
  EXPECT_FALSE(zel::DirectoryExists(dest + u"Empty\\"));

  // All user data with the backups, in a folder that held the user's own files before the
  // install: the product's folders, profile, backups and files go; the user's stay. (The
  // link goes first: Wine cannot remove one, and the delete would stop at it.)
  RemoveLinkedTree(dest + u"Plugins\\Out");
  for (const char16_t* file : {u"Plugins\\Equalizer.dll", u"Plugins\\Mine.dll", u"Profile\\KIVO.ini",
                               u"!Backup\\old.zip", u"KIVO.ini", u"Work\\report.doc", u"song.mp3"}) {
    Folder(zel::ExtractFilePath(dest + file));
    WriteAll(dest + file, Bytes("x"));
  }
  const String running = scratch + u"\\running\\";
  Folder(running);
  for (const String& folder : {running, dest}) {
    WriteAll(folder + u"Uninstall.exe", Bytes("uninstaller"));
    WriteAll(folder + u"Uninstall.dat", Bytes("data"));
  }
  {
    TUninstallRun run(dest, u"/AUTO /SILENT", "[Uninstall]\r\nCount=2\r\n0=KIVO.exe\r\n1=Plugins\\Equalizer.dll\r\n",
                      {{u"RemoveContent", u"1"}, {u"RemoveBackups", u"1"}});
    TInstallerActionUninstallFiles files;
    TInstallerActionUninstallEntry last;
    files.UninstallerFile = last.UninstallerFile = running + u"Uninstall.exe";
    files.Execute();
    last.Execute();
  }
  for (const char16_t* gone :
       {u"KIVO.exe", u"Plugins\\", u"Profile\\", u"!Backup\\", u"KIVO.ini", u"Uninstall.exe", u"Uninstall.dat"})
    EXPECT_FALSE(zel::FileExists(dest + gone) || zel::DirectoryExists(dest + gone)) << zel::ToUtf8(gone);
  EXPECT_TRUE(FileExists(dest + u"Work\\report.doc"));
  EXPECT_TRUE(FileExists(dest + u"song.mp3"));
}

TEST(ActionUninstallIntegration, RunsTheRegistrationProgramsUnregisterAndReportsThirds) {
  const String dest = ScratchDir(u"UninstallIntegration") + u"\\KIVO Player\\";
  Folder(dest);
  ASSERT_TRUE(::CopyFileW(W(HelperPath(u"..\\sample\\Elevator.exe")), W(dest + u"Elevator.exe"), FALSE));
  TUninstallRun run(dest, u"/AUTO /SILENT", "[Uninstall]\r\nCount=0\r\n", {});
  TestProduct.Actions = {ActionClassOf<TInstallerActionUninstallIntegration>()};
  TRecordingListener listener;
  run.Installer.AddListener(&listener);
  run.Installer.Start(false);
  ASSERT_TRUE(run.Installer.Thread()->WaitFor(60000));
  run.Installer.RemoveListener(&listener);
  EXPECT_FALSE(run.Installer.HasErrors());
  std::vector<int> progress;
  for (const auto& event : listener.EventsWithCode(NotifyProgress)) progress.push_back(event.Data & 0xFFFF);
  EXPECT_EQ(progress, (std::vector<int>{0, 33, 67, 100}));
  const std::vector<uint8_t> log = ReadAll(dest + u"Elevator.log");
  EXPECT_EQ(std::string(log.begin(), log.end()), "\"" + zel::ToUtf8(dest) + "Elevator.exe\" /REG=U\r\n");
}

TEST(ActionUninstallFiles, AStopBeforeTheLastStepLeavesTheProductListedAndASecondRunCompletes) {
  const String dest = ScratchDir(u"UninstallFiles-order") + u"\\KIVO\\";
  Folder(dest);
  Folder(dest + u"Plugins\\");
  for (const char16_t* file : {u"KIVO.exe", u"Plugins\\Equalizer.dll", u"Uninstall.exe", u"Uninstall.dat"})
    WriteAll(dest + file, Bytes("x"));
  ASSERT_TRUE(::CopyFileW(W(HelperPath(u"..\\sample\\Elevator.exe")), W(dest + u"Elevator.exe"), FALSE));
  WriteAll(dest + u"KIVO.ini",
           Bytes("[System]\r\nUserMode=1\r\nVersion=5100\r\n[Integration]\r\nShortcutDesktop=1\r\n"));
  ASSERT_TRUE(TInstallerApplicationRepository::Register(u"KIVO", dest + u"Uninstall.exe", u"5.10", u"p", u"h"));
  const std::string list =
      "[Uninstall]\r\nCount=5\r\n0=KIVO.exe\r\n1=Plugins\\Equalizer.dll\r\n2=Elevator.exe\r\n"
      "3=Uninstall.dat\r\n4=Uninstall.exe\r\n";
  String found;
  {
    // Stopped after the files step: still listed, its uninstaller and data in place.
    TUninstallRun run(dest, u"/AUTO /SILENT", list, {});
    RunSteps(run, {ActionClassOf<TInstallerActionUninstallFiles>()});
    EXPECT_FALSE(RestartRequired());
  }
  EXPECT_FALSE(FileExists(dest + u"KIVO.exe"));
  EXPECT_FALSE(FileExists(dest + u"Plugins\\Equalizer.dll"));
  for (const char16_t* kept : {u"Uninstall.exe", u"Uninstall.dat", u"Elevator.exe", u"KIVO.ini"})
    EXPECT_TRUE(FileExists(dest + kept)) << zel::ToUtf8(kept);
  EXPECT_TRUE(TInstallerApplicationRepository::GetInstallPath(u"KIVO", found));
  {
    // The second run, whole: the integration still finds its program, the entry goes last.
    TUninstallRun run(dest, u"/AUTO /SILENT", list, {});
    RunSteps(run,
             {ActionClassOf<TInstallerActionUninstallFiles>(), ActionClassOf<TInstallerActionUninstallIntegration>(),
              ActionClassOf<TInstallerActionUninstallEntry>()});
  }
  const std::vector<uint8_t> log = ReadAll(dest + u"Elevator.log");
  EXPECT_EQ(std::string(log.begin(), log.end()), "\"" + zel::ToUtf8(dest) + "Elevator.exe\" /REG=U\r\n");
  for (const char16_t* gone : {u"Uninstall.exe", u"Uninstall.dat", u"Elevator.exe", u"KIVO.ini"})
    EXPECT_FALSE(FileExists(dest + gone)) << zel::ToUtf8(gone);
  EXPECT_FALSE(zel::DirectoryExists(dest + u"Plugins\\"));
  EXPECT_FALSE(TInstallerApplicationRepository::GetInstallPath(u"KIVO", found));
}

TEST(ActionUninstallFiles, TheSetupsConfigurationGoesTheUsersStays) {
  const String scratch = LinkSafeScratch(u"UninstallFiles-config");
  struct Case {
    const char* what;
    std::string before;
    std::string_view after;  // empty: the file is gone
  };
  const Case cases[] = {
      {"only what the setup wrote",
       "[System]\r\nUserMode=1\r\nDefaultLang=English.lng\r\nVersion=5100\r\n"
       "[Integration]\r\nShortcutDesktop=1\r\n",
       ""},
      {"the System section alone", "[System]\r\nVersion=5100\r\n", ""},
      {"the user's settings stay", "[System]\r\nVersion=5100\r\n[Player]\r\nVolume=80\r\n",
       "[Player]\r\nVolume=80\r\n"},
      {"no System section: untouched", "[Player]\r\nVolume=80\r\n", "[Player]\r\nVolume=80\r\n"},
  };
  int i = 0;
  for (const Case& c : cases) {
    const String folder = scratch + u"\\" + zel::IntToStr(i++) + u"\\";
    Folder(folder);
    WriteAll(folder + u"KIVO.ini", Bytes(c.before));
    TInstallerActionUninstallFiles::RemoveSetupConfiguration(zel::TSafeFolder::Open(folder));
    EXPECT_EQ(FileExists(folder + u"KIVO.ini"), !c.after.empty()) << c.what;
    if (c.after.empty()) continue;
    zel::TZELIniFile ini(folder + u"KIVO.ini");
    std::vector<String> sections;
    ini.ReadSections(sections);
    EXPECT_EQ(sections, std::vector<String>{u"Player"}) << c.what;
    EXPECT_EQ(ini.ReadString(u"Player", u"Volume"), u"80") << c.what;
    if (c.before == c.after) EXPECT_EQ(ReadAll(folder + u"KIVO.ini"), Bytes(c.before)) << c.what;
  }
  // A link in its place is not gone through: its target keeps every line.
  const String linked = scratch + u"\\linked\\";
  Folder(linked);
  const std::string target = "[System]\r\nVersion=5100\r\n";
  WriteAll(scratch + u"\\target.ini", Bytes(target));
  if (MakeLink(linked + u"KIVO.ini", scratch + u"\\target.ini", false)) {
    TInstallerActionUninstallFiles::RemoveSetupConfiguration(zel::TSafeFolder::Open(linked));
    EXPECT_EQ(ReadAll(scratch + u"\\target.ini"), Bytes(target));
  }
}

TEST(ActionUninstallFiles, AFileInUseIsRemovedAtRestartAndTheRunSaysSo) {
  const String dest = ScratchDir(u"UninstallFiles-held") + u"\\KIVO\\";
  Folder(dest);
  Folder(dest + u"Plugins\\");
  const std::string list = "[Uninstall]\r\nCount=2\r\n0=KIVO.exe\r\n1=Plugins\\a.dll\r\n";
  for (const bool hold : {false, true}) {
    WriteAll(dest + u"KIVO.exe", Bytes("x"));
    WriteAll(dest + u"Plugins\\a.dll", Bytes("x"));
    // Held without sharing, as a running program holds its file: it can be neither
    // deleted nor moved.
    zel::TFileHandle held;
    if (hold) held.Reset(::CreateFileW(W(dest + u"KIVO.exe"), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_EQ(static_cast<bool>(held), hold);
    bool restart = false;
    {
      TUninstallRun run(dest, u"/AUTO /SILENT", list, {});
      RunSteps(run, {ActionClassOf<TInstallerActionUninstallFiles>(), ActionClassOf<TInstallerActionUninstallEntry>()});
      restart = RestartRequired();
    }
    EXPECT_EQ(restart, hold);
    EXPECT_FALSE(FileExists(dest + u"Plugins\\a.dll"));
    EXPECT_EQ(FileExists(dest + u"KIVO.exe"), hold);
    if (hold) {
      // Scheduled under its own path, the one place it still is.
      EXPECT_NE(zel::ToUtf8(PendingAtRestart()).find(zel::ToUtf8(dest + u"KIVO.exe")), std::string::npos)
          << zel::ToUtf8(PendingAtRestart());
      EXPECT_TRUE(zel::DirectoryExists(dest));  // its folder with it
    }
  }
}
