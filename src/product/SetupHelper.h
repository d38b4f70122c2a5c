#pragma once
// Folder operations of the update and removal steps: copying a profile, keeping a
// folder's files off the clean-up list, deleting a folder with its contents. None of
// them follows a link (symbolic link or junction) out of the tree it works on: a link
// is a leaf, deleted as a link, never entered. Paths of any length.
#include <functional>
#include <vector>

#include "library/Strings.h"

namespace kivo {

// Full paths of files to delete once the update tasks have run.
using TInstallerCleanupList = std::vector<zel::String>;

class TSetupHelper {
public:
  TSetupHelper() = delete;

  // Copies every file and subfolder of source into target (creating folders, replacing
  // files of the same name); nothing when both name the same folder. Links inside the
  // source are not copied. EInstallerInstallError "Cannot copy ..." at the first failure.
  static void CopyFolder(zel::StringView source, zel::StringView target, bool deleteSource);
  // Takes off the list every entry that begins with folder (ignoring case).
  static void ExcludeFolder(TInstallerCleanupList& list, zel::StringView folder);
  // onlyIfEmpty: removes the folder only when it is empty. Otherwise deletes its files
  // and subfolders, deepest first, then the folder; a link in the tree is removed as a
  // link and its target stays. Stops at the first item that cannot be deleted and
  // reports nothing (clean-up); true when the folder is gone.
  static bool DeleteFolder(zel::StringView folder, bool onlyIfEmpty);

  // Calls found for every file under folder (recursively, in the platform's order),
  // with its full path. Links to folders are not entered; skip(folderPath) may prune a
  // subtree (the path ends with a backslash).
  static void FindFiles(zel::StringView folder, const std::function<void(const zel::String&)>& found,
                        const std::function<bool(const zel::String&)>& skip = nullptr);
  // Creates the folder with its missing parents; false when that fails.
  static bool ForceFolder(zel::StringView folder);
};

}  // namespace kivo
