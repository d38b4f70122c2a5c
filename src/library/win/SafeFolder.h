#pragma once
// The file layer of the elevated setup. Every file and folder it copies, moves, archives
// or deletes is opened by handle without following reparse points: a folder is opened
// once by its path and held; every name below it is opened relative to that handle; and
// each handle is checked to name the entry it was opened as (its final path is the
// folder's final path and the name) before anything is done with it. So a symbolic link,
// junction or mount point is never gone through, also when a user swaps one in after a
// folder was listed. Under Wine a Unix symlink is followed by every call, even with the
// reparse-point flag; the final-path check sees that too, and such a link is left alone.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "library/Exceptions.h"
#include "library/Strings.h"
#include "library/win/Handles.h"

namespace zel {

// A name that is not what it says: a link where a plain file or folder was expected, or a
// handle that names another place than the one that was opened.
class ELinkedPathError : public Exception {
public:
  using Exception::Exception;
};

// One entry of a folder, as listed through the folder's handle.
struct TFolderEntry {
  String Name;
  uint32_t Attributes = 0;
  uint64_t Size = 0;
  bool IsFolder() const { return (Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool IsLink() const { return (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

// What became of an entry that was to be deleted.
enum class TDeleteResult {
  Deleted,  // gone (a link: the link itself, never its target)
  Missing,  // it was not there
  Refused,  // not deleted: a link that cannot be removed as a link here, or a folder that is not empty
  InUse,    // another program holds it, or the system refused to delete it
};

class TSafeFolder {
public:
  // How much of the path to the folder itself is trusted.
  enum class TTrust {
    // Links above the folder are the administrator's choice (a destination on a junction);
    // the folder itself must not be a link.
    PathAsGiven,
    // No link anywhere on the path: for folders that ordinary users shape (their profiles,
    // AppData and shell folders).
    NoLinks,
    // The folder the caller names, wherever it leads (a shell folder checked by the caller;
    // Wine makes the desktop a link to the Unix home's): only what lies below is checked.
    FolderAsGiven,
  };

  TSafeFolder() = default;
  TSafeFolder(TSafeFolder&&) = default;
  TSafeFolder& operator=(TSafeFolder&&) = default;

  // Opens an existing folder. Raises EOSError when it cannot be opened (ERROR_FILE_NOT_FOUND
  // or ERROR_PATH_NOT_FOUND when missing) and ELinkedPathError when it is a link, or, with
  // NoLinks, when a link on the path leads it elsewhere.
  static TSafeFolder Open(StringView path, TTrust trust = TTrust::PathAsGiven);
  // The same, but nothing when the folder (or a parent) does not exist.
  static std::optional<TSafeFolder> OpenIfExists(StringView path, TTrust trust = TTrust::PathAsGiven);
  // Opens the folder, creating it and its missing parents first; each new folder is made
  // relative to its parent's handle, with `security` (null: inherited).
  static TSafeFolder Create(StringView path, TTrust trust = TTrust::PathAsGiven,
                            SECURITY_ATTRIBUTES* security = nullptr);

  explicit operator bool() const { return static_cast<bool>(FHandle); }
  const String& Path() const { return FPath; }  // as opened, with a trailing backslash
  HANDLE Handle() const { return FHandle.Get(); }

  // The entries of the folder, "." and ".." left out, in the file system's order.
  std::vector<TFolderEntry> List() const;

  // A subfolder, opened relative to this one and checked; nothing when it does not exist.
  // ELinkedPathError when it is a link (or was swapped for one).
  std::optional<TSafeFolder> OpenFolder(StringView name) const;
  // The subfolder, made when missing; an existing one is opened and checked as above, or,
  // with mustBeNew, refused (EOSError ERROR_ALREADY_EXISTS).
  TSafeFolder CreateFolder(StringView name, SECURITY_ATTRIBUTES* security = nullptr, bool mustBeNew = false) const;
  // A file below this folder, opened and checked; an invalid handle when it does not exist.
  // ELinkedPathError when it is a link or a folder. `access` gets SYNCHRONIZE added, so the
  // handle reads and writes as CreateFile's handles do.
  TFileHandle OpenFile(StringView name, DWORD access, DWORD share) const;
  // A new file: fails (EOSError ERROR_FILE_EXISTS) when anything has the name, a link included.
  // `options` adds create options of the native call (FILE_DELETE_ON_CLOSE).
  TFileHandle CreateNewFile(StringView name, DWORD access, DWORD share = 0, DWORD attributes = FILE_ATTRIBUTE_NORMAL,
                            ULONG options = 0) const;

  // Deletes a file, a link (only the link) or an empty folder by handle; a read-only file
  // loses the attribute first, through the same handle.
  TDeleteResult DeleteEntry(StringView name) const;
  // Renames an entry of this folder by handle; an existing target is replaced only when
  // `replace` says so. Raises EOSError or ELinkedPathError.
  void Rename(StringView from, StringView to, bool replace) const;
  // The same into another held folder of the same volume.
  void MoveTo(StringView name, const TSafeFolder& target, StringView newName, bool replace) const;
  // Gives an open file (opened with DELETE access, on this folder's volume) the name `to`
  // in this folder.
  void RenameInto(HANDLE file, StringView to, bool replace) const;

private:
  struct TOpened;
  TOpened OpenRelative(StringView name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                       ULONG attributes = FILE_ATTRIBUTE_NORMAL, SECURITY_ATTRIBUTES* security = nullptr) const;
  // The checked subfolder `name` from its open handle; ELinkedPathError when it is a link.
  TSafeFolder Subfolder(StringView name, TOpened&& opened) const;
  String Describe(StringView name) const { return FPath + String(name); }

  String FPath;       // the path as opened, with a trailing backslash
  String FFinalPath;  // what the handle names, comparable, with a trailing backslash
  TFileHandle FHandle;
};

// What a handle names: its final path with every link resolved, without the "\\?\" prefix.
// Empty when the system cannot tell.
String FinalPathOf(HANDLE handle);

// The attributes of an open file or folder (INVALID_FILE_ATTRIBUTES when they cannot be read).
DWORD AttributesOf(HANDLE handle);

}  // namespace zel
