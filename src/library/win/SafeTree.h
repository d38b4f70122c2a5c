#pragma once
// Whole trees through the file layer (SafeFolder.h): every folder is entered through the
// handle it was opened with, never by its path again, so a subfolder swapped for a link
// after it was listed is met as a link, not gone through.
#include <functional>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "library/win/SafeFolder.h"

namespace zel {

// Deletes the folder's contents, deepest first, each entry by handle; a link in the tree
// goes as a link and its target stays. Stops at the first entry that cannot be deleted;
// true when the folder is empty.
bool DeleteContents(const TSafeFolder& folder);
// Deletes the entry `name` of parent with everything in it (a file, a link or a folder).
// True when it is gone.
bool DeleteTree(const TSafeFolder& parent, StringView name);

// Calls found(folder, entry, relativePath) for every entry below root that is not a folder
// (file links included, with entry.IsLink()), in the file system's order. Folder links are
// not entered; skip(relativeFolder) may prune a subtree (the text ends with a backslash).
using TFileFound = std::function<void(const TSafeFolder& folder, const TFolderEntry& entry, const String& relative)>;
void ForEachFile(const TSafeFolder& root, const TFileFound& found,
                 const std::function<bool(const String& relativeFolder)>& skip = nullptr);

// Copies the files and subfolders of source into target, replacing files of the same name;
// links in the source are not copied. Files are read and written by handle, each target
// made new after an existing one was deleted, with the source's times and attributes.
// Raises at the first failure (ELinkedPathError where the target holds a link).
void CopyTree(const TSafeFolder& source, const TSafeFolder& target);

// Copies one file by handle: the target is made new (an existing one is deleted first, as
// a link when it is one), with the source's times and attributes.
void CopyFileBetween(const TSafeFolder& source, StringView sourceName, const TSafeFolder& target, StringView name);

// Paths below one root folder, opened component by component relative to their parents'
// handles; the folders on the way stay open for the next path.
class TFolderTree {
public:
  explicit TFolderTree(TSafeFolder root) : FRoot(std::move(root)) {}
  const TSafeFolder& Root() const { return FRoot; }
  // The folder `relativeFolder` ("" for the root, else names with a trailing backslash), or
  // null when it does not exist; made when `create` is set. ELinkedPathError when a folder
  // on the way is a link.
  const TSafeFolder* Folder(StringView relativeFolder, bool create = false);
  // Closes the held handles of the folder and the folders below it (before it is removed).
  void Forget(StringView relativeFolder);

private:
  TSafeFolder FRoot;
  std::map<String, TSafeFolder> FFolders;  // by case-insensitive key of the relative path
};

// The bytes of the file `name` of folder, read by handle; nothing when it is not there or
// is larger than limit.
std::optional<std::vector<uint8_t>> ReadFileBytes(const TSafeFolder& folder, StringView name, size_t limit);

// Deletes the listed files (paths relative to the tree's root), the last first, then the
// folders they were in where those are empty now, deepest first: what a run made, undone.
// report(relative, error) names each file deleted (error empty) or left (why); a file that
// is not there is not reported.
using TRemoveReport = std::function<void(const String& relative, const String& error)>;
void RemoveFilesAndEmptiedFolders(TFolderTree& tree, const std::vector<String>& relative, const TRemoveReport& report);

// A folder of its own under parent: a new, unpredictable name beginning with prefix, made
// by this process and, when it runs elevated, changeable only by administrators and the
// system. Returns it held. A name that exists already is never reused.
TSafeFolder CreatePrivateFolder(StringView parent, StringView prefix);
// A new folder of parent named prefix and random digits, with `security` (null: inherited).
TSafeFolder CreateUniqueFolder(const TSafeFolder& parent, StringView prefix, SECURITY_ATTRIBUTES* security);
// Random hexadecimal digits from the system's generator (2 per byte).
String RandomHex(size_t bytes);

// Moves an entry of folder that cannot be deleted now (a running program, a loaded library)
// into a private folder on its volume that users cannot change, and deletes it there at the
// next restart, so that the path given to the restart is no path a user can turn into a link.
// movedTo receives the new path. False when it cannot be moved; then it stays in place.
bool MoveAsideUntilRestart(const TSafeFolder& folder, StringView name, String* movedTo = nullptr);

}  // namespace zel
