#include "product/SetupHelper.h"

#include <windows.h>

#include "core/InstallerErrors.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "platform/Platform.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

namespace {

String Long(StringView path) { return zel::platform::ExtendedLengthPath(path); }

DWORD AttributesOf(StringView path) { return ::GetFileAttributesW(as_wcstr(Long(path))); }

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Calls fn(name, attributes) for each entry of folder except "." and "..".
template <typename F>
bool ForEachEntry(const String& folder, F fn) {
  WIN32_FIND_DATAW data;
  zel::TFindHandle find(::FindFirstFileExW(as_wcstr(Long(folder + u"*")), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0));
  if (!find) return ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_NO_MORE_FILES;
  do {
    const String name = zel::from_wcstr(data.cFileName);
    if (name == u"." || name == u"..") continue;
    if (!fn(name, data.dwFileAttributes)) return false;
  } while (::FindNextFileW(find.Get(), &data));
  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

// A file, or a link to a file: the name goes, a link's target stays. The attributes are
// reset only when the plain delete is refused: resetting them through a link would
// change its target.
bool DeleteOneFile(const String& path) {
  const String name = Long(path);
  if (::DeleteFileW(as_wcstr(name))) return true;
  if (::GetLastError() != ERROR_ACCESS_DENIED) return false;
  ::SetFileAttributesW(as_wcstr(name), FILE_ATTRIBUTE_NORMAL);
  return ::DeleteFileW(as_wcstr(name)) != 0;
}

// True when a handle opened on the link itself names the link, not its target. Windows
// opens the link (and RemoveDirectory removes only the link); Wine follows a Unix
// symlink in every call, so there RemoveDirectory would remove an empty target and
// nothing may be done with the link.
bool HandleNamesLink(const String& link) {
  zel::TFileHandle handle(::CreateFileW(as_wcstr(Long(link)), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return false;
  String final(32768, u'\0');
  const DWORD n = ::GetFinalPathNameByHandleW(handle.Get(), as_wcstr(final), 32768, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= final.size()) return false;
  final.resize(n);
  return zel::SameText(zel::ExtractFileName(final), zel::ExtractFileName(link)) &&
         zel::SameText(zel::ExcludeTrailingBackslash(zel::ExtractFilePath(Long(zel::LongPathName(final)))),
                       zel::ExcludeTrailingBackslash(Long(zel::LongPathName(zel::ExtractFilePath(link)))));
}

// A link to a folder: the link goes, never anything it points to.
bool DeleteFolderLink(const String& path) {
  const String link = zel::ExcludeTrailingBackslash(path);
  return HandleNamesLink(link) && ::RemoveDirectoryW(as_wcstr(Long(link)));
}

bool DeleteTree(const String& folder) {
  const bool emptied = ForEachEntry(folder, [&folder](const String& name, DWORD attributes) {
    const String path = folder + name;
    if (IsLink(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFolderLink(path);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return DeleteTree(path + u"\\");
    return DeleteOneFile(path);
  });
  return emptied && ::RemoveDirectoryW(as_wcstr(Long(zel::ExcludeTrailingBackslash(folder))));
}

bool CopyTree(const String& source, const String& target) {
  if (!TSetupHelper::ForceFolder(target)) return false;
  return ForEachEntry(source, [&](const String& name, DWORD attributes) {
    if (IsLink(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return CopyTree(source + name + u"\\", target + name + u"\\");
    const String to = Long(target + name);
    // A read-only file of the same name would refuse to be replaced.
    const DWORD existing = ::GetFileAttributesW(as_wcstr(to));
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY))
      ::SetFileAttributesW(as_wcstr(to), existing & ~FILE_ATTRIBUTE_READONLY);
    return ::CopyFileW(as_wcstr(Long(source + name)), as_wcstr(to), FALSE) != 0;
  });
}

}  // namespace

bool TSetupHelper::ForceFolder(StringView folder) {
  const String path = zel::ExcludeTrailingBackslash(folder);
  if (path.empty() || zel::DirectoryExists(path)) return true;
  const String parent = zel::ExtractFilePath(path);
  // A drive root ends the climb (also in the "\\?\" form, where it cannot be examined).
  if (parent.size() < path.size() && !zel::EndsWithText(parent, u":\\") && !ForceFolder(parent)) return false;
  return ::CreateDirectoryW(as_wcstr(Long(path)), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

void TSetupHelper::CopyFolder(StringView source, StringView target, bool deleteSource) {
  if (zel::SameText(source, target)) return;
  const String from = zel::IncludeTrailingBackslash(source), to = zel::IncludeTrailingBackslash(target);
  if (!CopyTree(from, to))
    throw EInstallerInstallError(zel::Format(u"Cannot copy \"%s\" to \"%s\"", String(source), String(target)));
  if (deleteSource) DeleteFolder(from, false);
}

void TSetupHelper::ExcludeFolder(TInstallerCleanupList& list, StringView folder) {
  for (size_t i = list.size(); i-- > 0;)
    if (zel::StartsWithText(list[i], folder)) list.erase(list.begin() + static_cast<ptrdiff_t>(i));
}

bool TSetupHelper::DeleteFolder(StringView folder, bool onlyIfEmpty) {
  // Clean-up: every failure below just leaves the rest in place.
  try {
    const String path = zel::IncludeTrailingBackslash(folder);
    const DWORD attributes = AttributesOf(zel::ExcludeTrailingBackslash(path));
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (IsLink(attributes)) return DeleteFolderLink(path);
    if (onlyIfEmpty) return ::RemoveDirectoryW(as_wcstr(Long(zel::ExcludeTrailingBackslash(path)))) != 0;
    return DeleteTree(path);
  } catch (...) {
    return false;
  }
}

void TSetupHelper::FindFiles(StringView folder, const std::function<void(const String&)>& found,
                             const std::function<bool(const String&)>& skip) {
  const String base = zel::IncludeTrailingBackslash(folder);
  if (skip && skip(base)) return;
  ForEachEntry(base, [&](const String& name, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!IsLink(attributes)) FindFiles(base + name, found, skip);
    } else {
      found(base + name);
    }
    return true;
  });
}

}  // namespace kivo
