// The update tasks against files, shortcuts and uninstall entries laid out by the test:
// the profile migration by installed version, a copy that fails, the uninstall entries
// of this and of another installation, the shortcuts of versions 3 and 4, the
// registration program started from a folder with blanks, and the menu libraries.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "HelperProcess.h"
#include "TestInstaller.h"
#include "TestLinks.h"
#include "TestSupport.h"
#include "core/ApplicationRepository.h"
#include "package/InstallerErrors.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "product/ProfileHelper.h"
#include "product/UpdateTasks.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

const wchar_t* W(const String& s) { return zel::as_wcstr(s); }

std::string Text(const String& path) {
  const auto bytes = ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

// A test installer for dest at the installed version.
struct TRun {
  TTestInstallerEnvironment Environment;
  std::unique_ptr<TInstaller> Object;
  TRun(const String& dest, int32_t installed, const String& params = u" /SILENT", const std::string& product = "KIVO")
      : Environment(DefaultSetupMembers(product)) {
    TestProduct.CanUpdate = true;
    TestProduct.InstalledVersion = installed;
    Object = std::make_unique<TInstaller>(u"/AUTO=\"" + dest + u"\"" + params);
  }
};

String ShellFolderOf(int csidl) {
  wchar_t path[MAX_PATH];
  ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return zel::IncludeTrailingBackslash(zel::from_wcstr(path));
}

}  // namespace

TEST(UpdateTasks, UpdateConfigsByInstalledVersion) {
  const char16_t* oldFiles[] = {u"KIVO3.ini",        u"KIVO3-cat.db",        u"kivo3_menu.ini",        u"KIVO3ac.ini",
                                u"KIVO3ate.ini",     u"KIVO3.bak",           u"KIVO3-SkinLayout.ini",  u"AlbumArts.db",
                                u"AlbumArtCache.db", u"AlbumArtsForURLs.db", u"Playlists\\Default.kpl"};
  const struct {
    int32_t installed;
    std::vector<String> present;  // in the new profile afterwards
    std::vector<String> added;    // put on the clean-up list (new profile or destination)
  } cases[] = {
      {3600,
       {u"KIVO.ini", u"KIVO-cat.db", u"KIVO-ContextMenu.ini", u"KIVOac.ini", u"KIVOate.ini", u"KIVO3.bak",
        u"AlbumArts.Custom.db", u"Playlists\\Default.kpl"},
       {u"P:KIVO3-SkinLayout.ini", u"P:KIVO3.bak", u"D:Skins\\Nightfall.skin", u"D:Skins\\Nightfall.bmp",
        u"P:AlbumArts.db", u"P:AlbumArtCache.db"}},
      {4490,
       {u"KIVO3.ini", u"AlbumArts.Custom.db"},
       {u"D:Skins\\Nightfall.skin", u"D:Skins\\Nightfall.bmp", u"P:AlbumArts.db", u"P:AlbumArtCache.db"}},
      {4600, {u"KIVO3.ini", u"AlbumArts.db", u"AlbumArts.Custom.db"}, {u"P:AlbumArtCache.db"}},
      {5020, {u"AlbumArtsForURLs.db", u"AlbumArtCache.db"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.installed);
    const String base = ScratchDir(u"UpdateTasks-configs");
    const String dest = base + u"\\Dest\\";
    const String oldProfile = base + u"\\Roaming\\" + (c.installed < 4000 ? u"KIVO3\\" : u"KIVO\\");
    const String newProfile = base + u"\\Roaming\\KIVO\\";
    TSetupHelper::ForceFolder(dest + u"Skins");
    TSetupHelper::ForceFolder(oldProfile + u"Playlists");
    for (const char16_t* name : oldFiles) WriteAll(oldProfile + name, Bytes(zel::ToUtf8(name)));
    WriteAll(dest + u"KIVO3.ini", Bytes("[System]\r\nVersion=3600\r\n"));
    for (const char16_t* name : kObsoleteSkinFiles) WriteAll(dest + name, Bytes("skin"));
    TRun run(dest, c.installed);

    TInstallerProfileInfo profile{u"alice", newProfile, oldProfile};
    // The backup put every old file on the list; a stale new-profile entry goes too.
    TInstallerCleanupList cleanup;
    for (const char16_t* name : oldFiles) cleanup.push_back(oldProfile + name);
    cleanup.push_back(newProfile + u"stale.ini");
    const TInstallerCleanupList before = cleanup;
    TInstallerUpdateTaskUpdateConfigs(profile).Execute(&cleanup);

    for (const String& name : c.present) EXPECT_TRUE(zel::FileExists(newProfile + name)) << zel::ToUtf8(name);
    if (c.installed < 4000) {
      EXPECT_EQ(Text(newProfile + u"KIVO.ini"), "KIVO3.ini");  // the copied old file, renamed
      EXPECT_FALSE(zel::FileExists(newProfile + u"KIVO3.ini"));
      EXPECT_TRUE(zel::FileExists(dest + u"KIVO.ini"));
      EXPECT_FALSE(zel::FileExists(dest + u"KIVO3.ini"));
      EXPECT_TRUE(zel::FileExists(oldProfile + u"KIVO3.ini"));  // moved later, by the clean-up
    } else {
      EXPECT_TRUE(zel::FileExists(dest + u"KIVO3.ini"));
    }
    TInstallerCleanupList expected;
    if (c.installed < 4000)
      for (const String& entry : before)
        if (!zel::StartsWithText(entry, newProfile)) expected.push_back(entry);
    for (const String& entry : c.added) expected.push_back((entry[0] == u'P' ? newProfile : dest) + entry.substr(2));
    EXPECT_EQ(cleanup, expected);
  }
}

TEST(UpdateTasks, AFailedProfileCopyLeavesTheCleanupListAlone) {
  const String base = ScratchDir(u"UpdateTasks-copyfails");
  const String oldProfile = base + u"\\KIVO3\\", newProfile = base + u"\\KIVO\\";
  TSetupHelper::ForceFolder(oldProfile);
  WriteAll(oldProfile + u"KIVO3.ini", Bytes("settings"));
  WriteAll(oldProfile + u"Library.db", Bytes("library"));
  TRun run(base + u"\\Dest", 3600);
  TInstallerProfileInfo profile{u"bob", newProfile, oldProfile};
  TInstallerCleanupList cleanup = {oldProfile + u"KIVO3.ini", oldProfile + u"Library.db", newProfile + u"x"};
  const TInstallerCleanupList before = cleanup;
  HANDLE held = ::CreateFileW(W(oldProfile + u"Library.db"), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_THROW(TInstallerUpdateTaskUpdateConfigs(profile).Execute(&cleanup), EInstallerInstallError);
  ::CloseHandle(held);
  EXPECT_EQ(cleanup, before);
}

TEST(UpdateTasks, UninstallEntriesOfThisFolderOnly) {
  const String base = ScratchDir(u"UpdateTasks-entries");
  const String dest = base + u"\\Dest\\", other = base + u"\\Dest2\\";
  TSetupHelper::ForceFolder(dest);
  TSetupHelper::ForceFolder(other);
  // A vendor's product removes only its own name's entry: "KIVO" and "KIVO3" in its
  // folder belong to another product.
  const struct {
    const char* product;
    const char16_t* name;
    String folder;
    bool stays;
  } cases[] = {{"KIVO", u"KIVO3", dest, false},
               {"KIVO", u"KIVO", other, true},
               {"KIVO", u"KIVO", dest, false},
               {"Acme Tools", u"Acme Tools", dest, false},
               {"Acme Tools", u"Acme Tools", other, true},
               {"Acme Tools", u"KIVO3", dest, true},
               {"Acme Tools", u"KIVO", dest, true}};
  for (const auto& c : cases) {
    TRun run(dest, 3600, u" /SILENT", c.product);
    ASSERT_TRUE(TInstallerApplicationRepository::Register(c.name, c.folder + u"Uninstall.exe", u"3.60", u"p", u"h"));
    // Entries of another folder that merely shares the destination's first letters stay too.
    TInstallerUpdateTaskRemoveUninstallInfo().Execute(nullptr);
    String found;
    EXPECT_EQ(TInstallerApplicationRepository::GetInstallPath(c.name, found), c.stays)
        << c.product << ": " << zel::ToUtf8(c.name);
    TInstallerApplicationRepository::Unregister(c.name);
  }
}

TEST(UpdateTasks, ShortcutsOfVersionThreeGoOnlyFromVersionThree) {
  const String desktop = ShellFolderOf(CSIDL_DESKTOP), startMenu = ShellFolderOf(CSIDL_STARTMENU);
  const String commonPrograms = ShellFolderOf(CSIDL_COMMON_PROGRAMS);
  for (int32_t installed : {3600, 4600}) {
    SCOPED_TRACE(installed);
    for (const char16_t* name : {u"KIVO", u"KIVO3"}) {
      WriteAll(desktop + name + u".lnk", Bytes("lnk"));
      TSetupHelper::ForceFolder(startMenu + name);
      WriteAll(startMenu + name + u"\\" + name + u".lnk", Bytes("lnk"));
      TSetupHelper::ForceFolder(commonPrograms + name);
      WriteAll(commonPrograms + name + u"\\Read Me.lnk", Bytes("lnk"));
    }
    WriteAll(desktop + u"KIVO Viewer.lnk", Bytes("someone else's"));
    {
      // A vendor's product at any version takes only its own shortcuts.
      WriteAll(desktop + u"Acme Tools.lnk", Bytes("lnk"));
      TSetupHelper::ForceFolder(commonPrograms + u"Acme Tools");
      WriteAll(commonPrograms + u"Acme Tools\\Acme Tools.lnk", Bytes("lnk"));
      TRun vendor(ScratchDir(u"UpdateTasks-shortcuts"), installed, u" /SILENT", "Acme Tools");
      TInstallerUpdateTaskRemoveShortcuts().Execute(nullptr);
      EXPECT_FALSE(zel::FileExists(desktop + u"Acme Tools.lnk"));
      EXPECT_FALSE(zel::DirectoryExists(commonPrograms + u"Acme Tools"));
      for (const char16_t* name : {u"KIVO", u"KIVO3"}) {
        EXPECT_TRUE(zel::FileExists(desktop + name + u".lnk")) << zel::ToUtf8(name);
        EXPECT_TRUE(zel::DirectoryExists(commonPrograms + name)) << zel::ToUtf8(name);
      }
    }
    TRun run(ScratchDir(u"UpdateTasks-shortcuts"), installed);
    TInstallerUpdateTaskRemoveShortcuts().Execute(nullptr);
    EXPECT_FALSE(zel::FileExists(desktop + u"KIVO.lnk"));
    EXPECT_FALSE(zel::DirectoryExists(startMenu + u"KIVO"));
    EXPECT_FALSE(zel::DirectoryExists(commonPrograms + u"KIVO"));
    EXPECT_EQ(zel::FileExists(desktop + u"KIVO3.lnk"), installed >= 4000);
    EXPECT_EQ(zel::DirectoryExists(startMenu + u"KIVO3"), installed >= 4000);
    EXPECT_EQ(zel::DirectoryExists(commonPrograms + u"KIVO3"), installed >= 4000);
    EXPECT_TRUE(zel::FileExists(desktop + u"KIVO Viewer.lnk"));
    ::DeleteFileW(W(desktop + u"KIVO Viewer.lnk"));
    ::DeleteFileW(W(desktop + u"KIVO3.lnk"));
    TSetupHelper::DeleteFolder(startMenu + u"KIVO3", false);
    TSetupHelper::DeleteFolder(commonPrograms + u"KIVO3", false);
  }
}

TEST(UpdateTasks, RegistrationProgramStartsFromItsQuotedPath) {
  const String base = ScratchDir(u"UpdateTasks-elevator");
  const String dest = base + u"\\Program Files Test\\";
  TSetupHelper::ForceFolder(dest);
  const String elevator = HelperPath(u"..\\sample\\Elevator.exe");
  ASSERT_TRUE(::CopyFileW(W(elevator), W(dest + u"Elevator.exe"), FALSE)) << zel::ToUtf8(elevator);
  // What an unquoted command line would start first.
  ASSERT_TRUE(::CopyFileW(W(elevator), W(base + u"\\Program.exe"), FALSE));
  TRun run(dest, 4600);
  ASSERT_TRUE(TInstallerApplicationRepository::Register(u"KIVO", dest + u"Uninstall.exe", u"4.60", u"p", u"h"));
  TInstallerUpdateTaskRemoveFromRegistry().Execute(nullptr);
  EXPECT_EQ(Text(dest + u"Elevator.log"), "\"" + zel::ToUtf8(dest) + "Elevator.exe\" /REG=U\r\n");
  EXPECT_FALSE(zel::FileExists(base + u"\\Elevator.log"));
  // The uninstall entry is the uninstall's last step, not this task's.
  String found;
  EXPECT_TRUE(TInstallerApplicationRepository::GetInstallPath(u"KIVO", found));
  // No registration program: nothing is reported.
  ::DeleteFileW(W(dest + u"Elevator.exe"));
  EXPECT_NO_THROW(TInstallerUpdateTaskRemoveFromRegistry().Execute(nullptr));
  TInstallerApplicationRepository::Unregister(u"KIVO");
}

TEST(UpdateTasks, MenuLibrariesAreUnregisteredAndDeleted) {
  const String dest = ScratchDir(u"UpdateTasks-menu") + u"\\";
  TSetupHelper::ForceFolder(dest + u"System");
  ASSERT_TRUE(::CopyFileW(W(HelperPath(u"unreg_probe.dll")), W(dest + u"System\\kivo_menu64.dll"), FALSE));
  WriteAll(dest + u"System\\kivo_menu32.dll", Bytes("not a library of this width"));
  TRun run(dest, 3600);
  TInstallerUpdateTaskRemoveShellMenu().Execute(nullptr);
  EXPECT_TRUE(zel::FileExists(dest + u"System\\unregistered.marker"));
  EXPECT_FALSE(zel::FileExists(dest + u"System\\kivo_menu64.dll"));
  EXPECT_FALSE(zel::FileExists(dest + u"System\\kivo_menu32.dll"));
}

TEST(UpdateTasks, AnotherInstallationsRegistrationAndUnsafePlacesAreLeftAlone) {
  const String base = ScratchDir(u"UpdateTasks-registration");
  const String dest = base + u"\\Portable\\", standard = base + u"\\Standard\\";
  const String inside = dest + u"Standard Inside\\";
  const String commonPrograms = ShellFolderOf(CSIDL_COMMON_PROGRAMS), desktop = ShellFolderOf(CSIDL_DESKTOP);
  const auto layOut = [&] {
    TSetupHelper::ForceFolder(dest + u"System");
    ::DeleteFileW(W(dest + u"Elevator.log"));
    ::DeleteFileW(W(dest + u"System\\unregistered.marker"));
    ASSERT_TRUE(::CopyFileW(W(HelperPath(u"..\\sample\\Elevator.exe")), W(dest + u"Elevator.exe"), FALSE));
    ASSERT_TRUE(::CopyFileW(W(HelperPath(u"unreg_probe.dll")), W(dest + u"System\\kivo_menu64.dll"), FALSE));
    TSetupHelper::ForceFolder(commonPrograms + u"KIVO");
    WriteAll(commonPrograms + u"KIVO\\KIVO.lnk", Bytes("lnk"));
    WriteAll(desktop + u"KIVO.lnk", Bytes("lnk"));
  };
  TSetupHelper::ForceFolder(standard);
  TSetupHelper::ForceFolder(inside);
  const auto runAll = [] {
    TInstallerUpdateTaskRemoveShellMenu().Execute(nullptr);
    TInstallerUpdateTaskRemoveShortcuts().Execute(nullptr);
    TInstallerUpdateTaskRemoveFromRegistry().Execute(nullptr);
  };
  const struct {
    String Registered;  // the folder of the "KIVO" entry
    bool Own;
  } cases[] = {
      {standard, false},
      {inside, false},  // within this folder, yet another installation
      {zel::UpperCase(zel::ExcludeTrailingBackslash(dest)), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(zel::ToUtf8(c.Registered));
    TRun run(dest, 4600);  // a run of its own: each run decides once
    layOut();
    ASSERT_TRUE(
        TInstallerApplicationRepository::Register(u"KIVO", c.Registered + u"\\Uninstall.exe", u"4.60", u"p", u"h"));
    runAll();
    // The entry itself is the uninstall's last step (gated the same way), not these tasks'.
    String found;
    EXPECT_TRUE(TInstallerApplicationRepository::GetInstallPath(u"KIVO", found));
    EXPECT_EQ(c.Own, zel::FileExists(dest + u"Elevator.log"));
    EXPECT_EQ(c.Own, zel::FileExists(dest + u"System\\unregistered.marker"));
    EXPECT_EQ(!c.Own, zel::DirectoryExists(commonPrograms + u"KIVO"));
    // The installation's own files and the user's shortcut go either way.
    EXPECT_FALSE(zel::FileExists(dest + u"System\\kivo_menu64.dll"));
    EXPECT_FALSE(zel::FileExists(desktop + u"KIVO.lnk"));
    TInstallerApplicationRepository::Unregister(u"KIVO");
  }

  // Its own registration, but a folder that users can change: nothing is run or loaded
  // from it.
  TRun run(dest, 4600);
  layOut();
  ASSERT_TRUE(TInstallerApplicationRepository::Register(u"KIVO", dest + u"Uninstall.exe", u"4.60", u"p", u"h"));
  ASSERT_TRUE(SetFileDacl(dest, L"D:P(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;WD)"));
  runAll();
  TInstallerApplicationRepository::Unregister(u"KIVO");
  EXPECT_FALSE(zel::FileExists(dest + u"Elevator.log"));
  EXPECT_FALSE(zel::FileExists(dest + u"System\\unregistered.marker"));
  EXPECT_FALSE(zel::FileExists(dest + u"System\\kivo_menu64.dll"));
  TSetupHelper::DeleteFolder(commonPrograms + u"KIVO\\", false);
}

TEST(UpdateTasks, AUserShellFolderThroughALinkOrOnASystemFolderIsNotCleanedUp) {
  // The user's own "Start Menu" setting, pointed where the setup must not delete.
  const String base = ScratchDir(u"UpdateTasks-shellfolders");
  // A link to another program's folder: judged where it leads.
  const String target = ShellFolderOf(CSIDL_PROGRAM_FILES) + u"KIVO Test Vendor";
  TSetupHelper::ForceFolder(target + u"\\KIVO");
  WriteAll(target + u"\\KIVO\\keep.txt", Bytes("keep"));
  const String linked = base + u"\\Start Menu";
  ASSERT_TRUE(MakeLink(linked, target, true));
  const String common = ShellFolderOf(CSIDL_COMMON_STARTMENU);
  TSetupHelper::ForceFolder(common + u"KIVO");
  WriteAll(common + u"KIVO\\keep.txt", Bytes("keep"));

  const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  HKEY folders = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_ALL_ACCESS, &folders));
  zel::THandleKey owner(folders);
  wchar_t saved[1024];
  DWORD savedSize = sizeof(saved), savedType = 0;
  ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(folders, L"Start Menu", nullptr, &savedType,
                                              reinterpret_cast<BYTE*>(saved), &savedSize));
  TRun run(ScratchDir(u"UpdateTasks-shellfolders-dest"), 4600);
  for (const String& value : {linked, zel::ExcludeTrailingBackslash(common)}) {
    SCOPED_TRACE(zel::ToUtf8(value));
    ::RegSetValueExW(folders, L"Start Menu", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * 2));
    // The common start menu is left alone here by its own right: the tasks run for an
    // installation whose entry names another folder.
    ASSERT_TRUE(
        TInstallerApplicationRepository::Register(u"KIVO", base + u"\\Other\\Uninstall.exe", u"4.60", u"p", u"h"));
    TSetupHelper::ForceFolder(base + u"\\Other");
    TInstallerUpdateTaskRemoveShortcuts().Execute(nullptr);
    TInstallerApplicationRepository::Unregister(u"KIVO");
    EXPECT_TRUE(zel::FileExists(target + u"\\KIVO\\keep.txt"));
    EXPECT_TRUE(zel::FileExists(common + u"KIVO\\keep.txt"));
  }
  ::RegSetValueExW(folders, L"Start Menu", 0, savedType, reinterpret_cast<const BYTE*>(saved), savedSize);
  TSetupHelper::DeleteFolder(common + u"KIVO\\", false);
  TSetupHelper::DeleteFolder(target + u"\\", false);
  RemoveLinkedTree(base);
}
