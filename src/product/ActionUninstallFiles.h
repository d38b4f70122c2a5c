#pragma once
// Deletes the installed files that "Uninstall.ini" lists, then the folders that became
// empty and, on request, the backups and the users' data. Nothing outside the program
// folder (or, for the per-user profiles, outside each account's application-data
// folder) is ever deleted: listed names that leave the folder are skipped, and links
// inside the folders are removed as links, never followed.
//
// An uninstall works in an order that a run stopped at any point leaves listed and able
// to run again: the files first (but the few that later steps still run or load), then
// the shortcuts and the integration (TInstallerActionUninstallIntegration), and last
// (TInstallerActionUninstallEntry) those few files, the setup's own configuration, the
// uninstall entry, the uninstaller itself and the folders.
#include <vector>

#include "core/InstallerAction.h"
#include "library/win/SafeFolder.h"

namespace kivo {

class TInstallerActionUninstallFiles : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionUninstallFiles)
public:
  struct TFolderEntry {
    zel::String Path;   // with trailing backslash
    bool WithContents;  // else removed only when empty
    bool operator==(const TFolderEntry& other) const {
      return Path == other.Path && WithContents == other.WithContents;
    }
  };

  // Every listed file but those kept for the last step.
  void Execute() override;

  // The files the later steps need (relative to the program folder): the programs the
  // integration's removal runs or loads, and the uninstaller with its data, which the
  // uninstall entry starts until it is removed.
  static bool KeptForLastStep(zel::StringView relative);
  // Takes the settings the setup itself wrote out of "KIVO.ini" in folder (its "System"
  // section, which makes the next run an update), or deletes the file when nothing is
  // left but the integration choices the setup copied there. A link is left alone.
  static void RemoveSetupConfiguration(const zel::TSafeFolder& folder);

  // Every subfolder of the destination, children before their parent (links are not
  // entered); then "!Backup\" and the user data as the options ask. All user data with the
  // backups takes the product's own folders (those holding listed files) and "Profile\"
  // with contents, then the program folder only when it is empty.
  std::vector<TFolderEntry> BuildFolderList();
  // The full paths that "Uninstall.ini" lists inside the destination, duplicates removed.
  // onlyKept: only the entries named like a file kept for the last step.
  std::vector<zel::String> CreateFileList(bool logSkipped = true, bool onlyKept = false);

  // One "Uninstall.ini" entry as a path inside dest (which ends with a backslash). False,
  // with the reason, for an entry that is empty, absolute, has a drive, UNC or stream
  // prefix, climbs out with "..", or leads out through a link.
  static bool ResolveListedFile(zel::StringView dest, zel::StringView entry, zel::String& path, zel::String& reason);
  // The program folder may go as a whole only when it is a folder a setup may use and it
  // holds this very uninstaller: the same bytes as ownExe and the .dat file beside it.
  static bool HoldsUninstaller(zel::StringView dest, zel::StringView ownExe, zel::String& reason);
  // True when path is a folder strictly below folder, also after links.
  static bool IsStrictlyInside(zel::StringView folder, zel::StringView path);

  // The running uninstaller, whose copy the program folder must hold; empty: this
  // program's own file (tests name another).
  zel::String UninstallerFile;

protected:
  // Deletes each file by handle below the program folder. One in use is moved aside, or,
  // when that fails, scheduled for deletion at the next restart under its own path; either
  // way the run then asks for a restart (unless restartIfInUse is false).
  void RemoveFiles(const std::vector<zel::String>& files, size_t& done, size_t total, bool restartIfInUse = true);
  void RemoveFolders(const std::vector<TFolderEntry>& folders, size_t& done, size_t total);
  // The listed files, and, when all user data goes, what the setup wrote unlisted.
  std::vector<zel::String> FilesToRemove(bool logSkipped = true, bool onlyKept = false);
  // An entry whose file name is that of a file kept for the last step (any folder).
  static bool HasKeptName(zel::StringView entry);

  bool FRemoveProgramFolder = false;  // all user data goes: also what the setup wrote unlisted
};

// The last step of an uninstall: the files kept for it, the setup's configuration, the
// uninstall entry, then the uninstaller with its data, and the folders that became empty.
class TInstallerActionUninstallEntry : public TInstallerActionUninstallFiles {
  KIVO_ACTION_CLASS(TInstallerActionUninstallEntry)
public:
  void Execute() override;
};

}  // namespace kivo
