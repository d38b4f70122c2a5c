#pragma once
// Folder operations of the update and removal steps: copying a profile, keeping a
// folder's files off the clean-up list, deleting a folder with its contents. All of them
// go through the file layer (library/win/SafeTree.h): none follows a link (symbolic link
// or junction) out of the tree it works on, also one swapped in while it works; a link is
// a leaf, deleted as a link, never entered. Paths of any length.
#include <functional>
#include <vector>

#include "library/Strings.h"
#include "library/win/SafeTree.h"

namespace kivo {

// Full paths of files to delete once the update tasks have run.
using TInstallerCleanupList = std::vector<zel::String>;

class TSetupHelper {
public:
  TSetupHelper() = delete;

  // Copies every file and subfolder of source into target (creating folders, replacing
  // files of the same name); nothing when both name the same folder. Links inside the
  // source are not copied. EInstallerInstallError "Cannot copy ..." at the first failure;
  // zel::ELinkedPathError when either folder, or a folder on its path, or an entry of the
  // target is a link.
  static void CopyFolder(zel::StringView source, zel::StringView target, bool deleteSource);
  // Takes off the list every entry that begins with folder (ignoring case).
  static void ExcludeFolder(TInstallerCleanupList& list, zel::StringView folder);
  // onlyIfEmpty: removes the folder only when it is empty. Otherwise deletes its files
  // and subfolders, deepest first, then the folder; a link in the tree is removed as a
  // link and its target stays. Stops at the first item that cannot be deleted and
  // reports nothing (clean-up); true when the folder is gone.
  static bool DeleteFolder(zel::StringView folder, bool onlyIfEmpty);

  // Calls found for every file under folder (recursively, in the platform's order),
  // with its full path. Links are neither entered nor reported as files: linkFound hears
  // of them (the folder itself included); skip(folderPath) may prune a subtree (the path
  // ends with a backslash).
  static void FindFiles(zel::StringView folder, const std::function<void(const zel::String&)>& found,
                        const std::function<bool(const zel::String&)>& skip = nullptr,
                        const std::function<void(const zel::String&)>& linkFound = nullptr);
  // Creates the folder with its missing parents; false when that fails.
  static bool ForceFolder(zel::StringView folder);

  // What became of a file that was to be deleted.
  enum class TRemoval { Deleted, Missing, MovedAside, Link, NotDeleted };
  // Deletes the file `relative` below the tree's root by handle, never through a link on the
  // way (a link is refused) nor through the file if it is one (the link goes). A file in use
  // is moved aside and deleted at the next restart (movedTo says where).
  static TRemoval RemoveFile(zel::TFolderTree& tree, zel::StringView relative, zel::String* movedTo = nullptr);
  // Removes the folder `relative` (with a trailing backslash) below the root when it is
  // empty and no link; true when it went.
  static bool RemoveEmptyFolder(zel::TFolderTree& tree, zel::StringView relative);
  // The run log's words for a removal of path.
  static zel::String RemovalText(TRemoval removal, const zel::String& path, const zel::String& movedTo);
};

}  // namespace kivo
