#pragma once
// Deletes the installed files that "Uninstall.ini" lists, then the folders that became
// empty and, on request, the backups and the users' data. Nothing outside the program
// folder (or, for the per-user profiles, outside each account's application-data
// folder) is ever deleted: listed names that leave the folder are skipped, and links
// inside the folders are removed as links, never followed.
#include <vector>

#include "core/InstallerAction.h"

namespace kivo {

class TInstallerActionUninstallFiles : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionUninstallFiles)
public:
  struct TFolderEntry {
    zel::String Path;  // with trailing backslash
    bool WithContents;  // else removed only when empty
    bool operator==(const TFolderEntry& other) const {
      return Path == other.Path && WithContents == other.WithContents;
    }
  };

  void Execute() override;

  // Every subfolder of the destination, children before their parent (links are not
  // entered); then "!Backup\" and the user data as the options ask. All user data with the
  // backups takes the product's own folders (those holding listed files) and "Profile\"
  // with contents, then the program folder only when it is empty.
  std::vector<TFolderEntry> BuildFolderList();
  // The full paths that "Uninstall.ini" lists inside the destination, duplicates removed.
  std::vector<zel::String> CreateFileList();

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

private:
  bool FRemoveProgramFolder = false;  // all user data goes: also what the setup wrote unlisted
};

}  // namespace kivo
