#include "product/UpdateTasks.h"

#include <windows.h>
#include <shlobj.h>

#include "core/ApplicationRepository.h"
#include "core/Destination.h"
#include "core/FileOperations.h"
#include "core/ProgramRun.h"
#include "core/FolderSecurity.h"
#include "core/Installer.h"
#include "core/RunLog.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/KnownFolders.h"
#include "library/win/OSError.h"
#include "library/win/SafeFolder.h"
#include "library/win/SafeTree.h"
#include "platform/Platform.h"
#include "product/ProductInfoKIVO.h"
#include "product/ProfileHelper.h"
#include "product/SetAside.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

const char16_t* const kObsoleteSkinFiles[2] = {u"Skins\\Nightfall.skin", u"Skins\\Nightfall.bmp"};

namespace {

// Versions before 4.00 called their profile, shortcuts and entries "KIVO3".
constexpr int32_t kFirstVersion4 = 4000;
constexpr int32_t kFirstVersionWithoutNightfall = 4500;
constexpr int32_t kFirstVersionWithoutAlbumArtsDb = 4600;
constexpr int32_t kFirstVersionWithCustomAlbumArts = 5020;

int32_t InstalledVersion() { return Installer->ProductInfo().GetInstalledVersion(); }

// A shell folder, or empty when the shell has none: a fallback folder here would have
// its "KIVO" subfolder deleted. A user may set their shell folders to any text: one that
// is a folder of the system or another account's, also through a link, is not used
// (and logged); a usable one is used where its links lead.
String ShellFolder(int csidl) {
  const String folder = zel::ExcludeTrailingBackslash(zel::SpecialFolder(csidl));
  if (folder.empty()) return folder;
  String usable;
  const String reason = zel::UnsafeShellFolderReason(folder, csidl, zel::CsidlFolder(CSIDL_PROFILE), &usable);
  if (!reason.empty()) {
    if (reason != zel::kShellFolderMissing) RunLog().Log(u"Shell folder not used: " + folder + u": " + reason);
    return {};
  }
  return zel::IncludeTrailingBackslash(usable);
}

// Renames from to to (both in one folder) when the first exists and the second does not,
// by handle in the held folder, never through a link; raises the operating system's error
// when the rename fails.
void MoveIfPresent(const String& from, const String& to, zel::TSafeFolder::TTrust trust, TSetAside* undo) {
  if (!zel::FileExists(from) || zel::FileExists(to)) return;
  const zel::TSafeFolder folder = zel::TSafeFolder::Open(zel::ExtractFilePath(from), trust);
  if (undo) undo->NoteRenamed(from, to);  // noted first: a run killed right after is undone too
  folder.Rename(zel::ExtractFileName(from), zel::ExtractFileName(to), false);
  RunLog().Log(u"Migrated: " + from + u" -> " + to);
}

void AddIfFile(TInstallerCleanupList* cleanup, const String& path) {
  if (cleanup && zel::FileExists(path)) cleanup->push_back(path);
}

// The elevated setup starts or loads nothing that users could have replaced.
bool SafeToRun(const String& file) {
  String reason;
  if (IsSafeToRun(Installer->DestPath(), file, reason)) return true;
  RunLog().Log(u"Not run, " + reason + u": " + file);
  return false;
}

}  // namespace

// The machine-wide registration (uninstall entry, common shortcuts, file types, context
// menu) is this installation's unless an uninstall entry names another folder: a
// portable copy's uninstall leaves the standard installation's alone. Logged when not.
bool OwnsRegistration(StringView what) {
  const String dest = Installer->DestPath();
  // Decided once per run: the prepare step removes this folder's entry before it removes
  // the shortcuts.
  if (Installer->RegistrationOwned() < 0) {
    String other;
    for (const String& name : TProductInfoKIVO::ProductNames(true)) {
      String folder;
      if (!TInstallerApplicationRepository::GetInstallPath(name, folder)) continue;
      if (zel::SameText(NormalizeDestPath(folder), dest)) {
        other.clear();
        break;
      }
      other = folder;
    }
    Installer->SetRegistrationOwned(other.empty());
    if (!other.empty()) RunLog().Log(u"The uninstall entry names another installation: " + other);
  }
  if (Installer->RegistrationOwned() == 0) RunLog().Log(u"Left alone: " + String(what));
  return Installer->RegistrationOwned() != 0;
}

void TInstallerUpdateTaskRemoveShellMenu::Execute(TInstallerCleanupList*) {
  const String dest = Installer->DestPath();
  const bool own = OwnsRegistration(u"the context menu");
  FUnregistered.clear();
  for (const char16_t* name : {u"System\\kivo_menu32.dll", u"System\\kivo_menu64.dll"}) {
    const String library = dest + name;
    if (!zel::FileExists(library)) continue;
    // A library of the other processor width does not load: it is just deleted.
    if (own && SafeToRun(library)) {
      TInstallerActiveX::Unregister(library);
      FUnregistered.push_back(library);
    }
    // Kept aside where a failed run can put it back, else deleted.
    bool kept = false;
    if (FUndo) {
      zel::TFolderTree tree(zel::TSafeFolder::Open(dest));
      kept = FUndo->Keep(tree, name);
    }
    if (!kept) SafeDeleteFile(library);
    RunLog().Log(u"Deleted: " + library + (kept ? u" (kept aside until the run is complete)" : u""));
  }
}

void TInstallerUpdateTaskRemoveShellMenu::Undo() noexcept {
  for (const String& library : FUnregistered) {
    try {
      if (zel::FileExists(library) && SafeToRun(library) && TInstallerActiveX::Register(library))
        RunLog().Log(u"Registered again (the run is undone): " + library);
    } catch (const zel::Exception& e) {
      RunLog().Log(u"Not registered again (" + e.Message() + u"): " + library);
      Installer->NoteUndoFailure();
    }
  }
  FUnregistered.clear();
}

void TInstallerUpdateTaskRemoveFromRegistry::Execute(TInstallerCleanupList*) {
  if (!OwnsRegistration(u"file types and the uninstall entry")) return;
  // Quoted and as the application name: from "C:\Program Files\..." an unquoted command
  // line would start "C:\Program.exe" if there were one.
  // The uninstall entry goes last, with the uninstaller: see the uninstall's last step.
  const String program = Installer->DestPath() + u"Elevator.exe";
  if (!zel::FileExists(program) || SafeToRun(program)) RunProgramAndWait(program, u" /REG=U");
}

void TInstallerUpdateTaskRemoveUninstallInfo::Execute(TInstallerCleanupList*) {
  const String dest = Installer->DestPath();
  FRemoved.clear();
  for (const String& name : TProductInfoKIVO::ProductNames(true)) {
    String folder;
    if (!TInstallerApplicationRepository::GetInstallPath(name, folder)) continue;
    if (!zel::SameText(NormalizeDestPath(folder), dest)) continue;  // another installation's entry
    TSavedUninstallEntry saved = FUndo ? TInstallerApplicationRepository::Save(name) : TSavedUninstallEntry();
    if (TInstallerApplicationRepository::Unregister(name)) {
      RunLog().Log(u"Uninstall entry removed: " + name + u" (" + folder + u")");
      if (saved.Existed) FRemoved.push_back(std::move(saved));
    }
  }
}

void TInstallerUpdateTaskRemoveUninstallInfo::Undo() noexcept {
  for (size_t i = FRemoved.size(); i-- > 0;) {
    const bool restored = TInstallerApplicationRepository::Restore(FRemoved[i]);
    RunLog().Log((restored ? u"Uninstall entry put back (the run is undone): " : u"Uninstall entry not put back: ") +
                 FRemoved[i].Name);
    if (!restored) Installer->NoteUndoFailure();
  }
  FRemoved.clear();
}

void TInstallerUpdateTaskRemoveShortcuts::Execute(TInstallerCleanupList*) {
  const std::vector<String> names = TProductInfoKIVO::ProductNames(InstalledVersion() < kFirstVersion4);
  const String desktop = ShellFolder(CSIDL_DESKTOP);
  const String startMenu = ShellFolder(CSIDL_STARTMENU);
  const bool common = OwnsRegistration(u"the shortcuts for all users");
  const String commonDesktop = common ? ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) : String();
  const String commonPrograms = common ? ShellFolder(CSIDL_COMMON_PROGRAMS) : String();
  const String commonStartMenu = common ? ShellFolder(CSIDL_COMMON_STARTMENU) : String();
  FDeleted.clear();
  for (const String& name : names) {
    for (const String& folder : {desktop, commonDesktop})
      if (!folder.empty() && zel::FileExists(folder + name + u".lnk")) {
        Save(folder, name + u".lnk", false);
        SafeDeleteFile(folder + name + u".lnk");
        RunLog().Log(u"Deleted: " + folder + name + u".lnk");
      }
    for (const String& folder : {startMenu, commonPrograms, commonStartMenu})
      if (!folder.empty() && zel::DirectoryExists(folder + name)) {
        Save(folder, name, true);
        TSetupHelper::DeleteFolder(folder + name + u"\\", false);
        RunLog().Log(u"Deleted with contents: " + folder + name + u"\\");
      }
  }
}

void TInstallerUpdateTaskRemoveShortcuts::Save(const String& folder, const String& name, bool isFolder) {
  if (!FUndo) return;
  // Links are small: kept in memory, through handles below the shell folder, no link followed.
  try {
    const zel::TSafeFolder base = zel::TSafeFolder::Open(folder, zel::TSafeFolder::TTrust::FolderAsGiven);
    const auto keep = [&](const zel::TSafeFolder& parent, StringView file, const String& relative) {
      std::optional<std::vector<uint8_t>> bytes = zel::ReadFileBytes(parent, file, 1 << 20);
      if (bytes) FDeleted.push_back({folder, relative, std::move(*bytes)});
    };
    if (!isFolder) {
      keep(base, name, name);
    } else if (std::optional<zel::TSafeFolder> sub = base.OpenFolder(name)) {
      zel::ForEachFile(*sub,
                       [&](const zel::TSafeFolder& parent, const zel::TFolderEntry& entry, const String& relative) {
                         if (!entry.IsLink()) keep(parent, entry.Name, name + u"\\" + relative);
                       });
    }
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Not kept for an undo (" + e.Message() + u"): " + folder + name);
  }
}

void TInstallerUpdateTaskRemoveShortcuts::Undo() noexcept {
  for (const TSavedFile& saved : FDeleted) {
    const String path = saved.Folder + saved.Relative;
    try {
      zel::TFolderTree tree(zel::TSafeFolder::Open(saved.Folder, zel::TSafeFolder::TTrust::FolderAsGiven));
      const zel::TSafeFolder* parent = tree.Folder(zel::ExtractFilePath(saved.Relative), true);
      const zel::TFileHandle file = parent->CreateNewFile(zel::ExtractFileName(saved.Relative), GENERIC_WRITE);
      zel::WriteAllOrRaise(file.Get(), saved.Bytes.data(), static_cast<DWORD>(saved.Bytes.size()),
                           u"WriteFile \"" + path + u"\"");
      RunLog().Log(u"Restored (the run is undone): " + path);
    } catch (const zel::Exception& e) {
      // Something has its name now: that stays.
      RunLog().Log(u"Not restored (" + e.Message() + u"): " + path);
      Installer->NoteUndoFailure();
    }
  }
  FDeleted.clear();
}

void TInstallerUpdateTaskUpdateConfigs::Execute(TInstallerCleanupList* cleanup) {
  const String& target = FProfile.ProfilePath;
  try {
    Migrate(cleanup);
  } catch (const zel::ELinkedPathError& e) {
    // A profile that is, or lies behind, a link is another place than its account's: it is
    // neither copied nor moved, and nothing of the old one is deleted.
    RunLog().Log(u"Profile not migrated (" + e.Message() + u"): " + FProfile.OldProfilePath + u" -> " + target);
    if (cleanup) {
      TSetupHelper::ExcludeFolder(*cleanup, FProfile.OldProfilePath);
      TSetupHelper::ExcludeFolder(*cleanup, target);
    }
  }
}

void TInstallerUpdateTaskUpdateConfigs::Migrate(TInstallerCleanupList* cleanup) {
  const String& target = FProfile.ProfilePath;
  const String dest = Installer->DestPath();
  const int32_t installed = InstalledVersion();
  constexpr auto kProfileTrust = zel::TSafeFolder::TTrust::NoLinks;
  if (!zel::SameText(FProfile.OldProfilePath, target)) {
    TSetupHelper::CopyFolder(FProfile.OldProfilePath, target, false);
    RunLog().Log(u"Profile copied: " + FProfile.OldProfilePath + u" -> " + target);
  }
  // The new profile survives the clean-up; files of a different old folder stay on the
  // list and go later, so the profile is moved.
  if (cleanup) TSetupHelper::ExcludeFolder(*cleanup, target);

  if (installed < kFirstVersion4) {
    MoveIfPresent(dest + u"KIVO3.ini", dest + u"KIVO.ini", zel::TSafeFolder::TTrust::PathAsGiven, FUndo);
    static const struct {
      const char16_t* from;
      const char16_t* to;
    } renames[] = {{u"KIVO3-cat.db", u"KIVO-cat.db"},
                   {u"kivo3_menu.ini", u"KIVO-ContextMenu.ini"},
                   {u"KIVO3.ini", u"KIVO.ini"},
                   {u"KIVO3ac.ini", u"KIVOac.ini"},
                   {u"KIVO3ate.ini", u"KIVOate.ini"}};
    for (const auto& r : renames) MoveIfPresent(target + r.from, target + r.to, kProfileTrust, FUndo);
    for (const char16_t* name : {u"KIVO3-SkinLayout.ini", u"KIVO3.bak", u"KIVO3ac.bak", u"KIVO3ate.bak"})
      AddIfFile(cleanup, target + name);
  }
  if (installed < kFirstVersionWithoutNightfall)
    for (const char16_t* name : kObsoleteSkinFiles) AddIfFile(cleanup, dest + name);
  if (installed < kFirstVersionWithoutAlbumArtsDb) AddIfFile(cleanup, target + u"AlbumArts.db");
  if (installed < kFirstVersionWithCustomAlbumArts) {
    // A cache and a rename: neither is worth failing an update for.
    try {
      AddIfFile(cleanup, target + u"AlbumArtCache.db");
      MoveIfPresent(target + u"AlbumArtsForURLs.db", target + u"AlbumArts.Custom.db", kProfileTrust, FUndo);
    } catch (const zel::Exception&) {}
  }
}

}  // namespace kivo
