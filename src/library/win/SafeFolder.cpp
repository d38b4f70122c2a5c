#include "library/win/SafeFolder.h"

#include <windows.h>
#include <winternl.h>

#include "library/win/FileSystem.h"
#include "library/win/OSError.h"
#include "platform/Platform.h"

// Not in every SDK's headers; the system has exported it since Windows NT.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine, PVOID apcContext,
                                               PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS kind, BOOLEAN single, PUNICODE_STRING mask,
                                               BOOLEAN restart);

namespace zel {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE;

bool IsNotFound(NTSTATUS status) {
  return status == static_cast<NTSTATUS>(0xC0000034L) ||  // STATUS_OBJECT_NAME_NOT_FOUND
         status == static_cast<NTSTATUS>(0xC000003AL) ||  // STATUS_OBJECT_PATH_NOT_FOUND
         status == static_cast<NTSTATUS>(0xC000000FL);    // STATUS_NO_SUCH_FILE
}

bool IsNotFoundError(unsigned code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// "\\?\C:\x" and "\\?\UNC\server\share\x" in the form users write.
String Comparable(String path) {
  if (StartsWith(path, u"\\\\?\\UNC\\")) path = u"\\\\" + path.substr(8);
  else if (StartsWith(path, u"\\\\?\\")) path.erase(0, 4);
  return path;
}

// A name of one entry: no separators, no stream, not "." or "..".
void CheckName(StringView name, StringView folder) {
  const bool plain = !name.empty() && name != u"." && name != u".." && name.find_first_of(u"\\/:") == StringView::npos;
  if (!plain)
    throw ELinkedPathError(u"\"" + String(name) + u"\" is no name of an entry of \"" + String(folder) + u"\"");
}

TFileHandle OpenByPath(const String& path, DWORD access) {
  // A drive root keeps its backslash ("C:" alone is the current folder of the drive).
  String name = ExcludeTrailingBackslash(path);
  if (name.size() == 2 && name[1] == u':') name += u'\\';
  return TFileHandle(::CreateFileW(as_wcstr(platform::ExtendedLengthPath(name)), access | SYNCHRONIZE, kShareAll,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
}

}  // namespace

String FinalPathOf(HANDLE handle) {
  String path(1024, u'\0');
  DWORD n = ::GetFinalPathNameByHandleW(handle, as_wcstr(path), 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n >= 1024) {
    path.resize(n + 1);
    n = ::GetFinalPathNameByHandleW(handle, as_wcstr(path), n + 1, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  if (n > 0 && n < path.size()) {
    path.resize(n);
    return Comparable(path);
  }
  // Wine answers paths longer than MAX_PATH with "more data" whatever the buffer; its
  // object name is the path in the "\??\C:\..." form.
  if (::GetLastError() != ERROR_MORE_DATA) return {};
  std::vector<uint8_t> buffer(sizeof(OBJECT_NAME_INFORMATION) + 65536);
  ULONG length = 0;
  if (!NT_SUCCESS(
          ::NtQueryObject(handle, ObjectNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &length)))
    return {};
  const auto* name = reinterpret_cast<const OBJECT_NAME_INFORMATION*>(buffer.data());
  String text = from_wcstr(name->Name.Buffer, name->Name.Length / sizeof(wchar_t));
  if (!StartsWith(text, u"\\??\\")) return {};
  return Comparable(u"\\\\?\\" + text.substr(4));
}

DWORD AttributesOf(HANDLE handle) {
  FILE_BASIC_INFO basic;
  if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return INVALID_FILE_ATTRIBUTES;
  return basic.FileAttributes;
}

struct TSafeFolder::TOpened {
  TFileHandle Handle;
  NTSTATUS Status = 0;
  DWORD Attributes = 0;
  bool NamesEntry = false;  // the handle names this folder's entry, not a link's target
  bool IsLink() const { return (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !NamesEntry; }
};

TSafeFolder::TOpened TSafeFolder::OpenRelative(StringView name, ACCESS_MASK access, ULONG share, ULONG disposition,
                                               ULONG options, ULONG attributes, SECURITY_ATTRIBUTES* security) const {
  CheckName(name, FPath);
  String text(name);
  UNICODE_STRING unicode;
  unicode.Buffer = as_wcstr(text);
  unicode.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  unicode.MaximumLength = unicode.Length;
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &unicode, OBJ_CASE_INSENSITIVE, FHandle.Get(),
                             security ? security->lpSecurityDescriptor : nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  TOpened opened;
  // Relative to the held folder and never through a reparse point: what the name is, not
  // what it points to.
  opened.Status = ::NtCreateFile(
      &handle, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &object, &io, nullptr, attributes, share, disposition,
      options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT, nullptr, 0);
  if (!NT_SUCCESS(opened.Status)) return opened;
  opened.Handle.Reset(handle);
  opened.Attributes = AttributesOf(handle);
  const String final = FinalPathOf(handle);
  opened.NamesEntry = !final.empty() && SameText(final, FFinalPath + text);
  // The held folder may have been renamed or moved since it was opened (its handle still
  // names it): compared with where it is now.
  if (!opened.NamesEntry && !final.empty()) {
    const String now = FinalPathOf(FHandle.Get());
    opened.NamesEntry = !now.empty() && SameText(final, IncludeTrailingBackslash(now) + text);
  }
  return opened;
}

TSafeFolder TSafeFolder::Open(StringView path, TTrust trust) {
  TSafeFolder folder;
  folder.FPath = IncludeTrailingBackslash(String(path));
  folder.FHandle = OpenByPath(folder.FPath, kFolderAccess | FILE_READ_ATTRIBUTES);
  if (!folder.FHandle) RaiseLastOSError(u"CreateFile \"" + folder.FPath + u"\"");
  const DWORD attributes = AttributesOf(folder.FHandle.Get());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    RaiseLastOSError(u"GetFileInformationByHandleEx \"" + folder.FPath + u"\"");
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && trust != TTrust::FolderAsGiven)
    throw ELinkedPathError(u"\"" + folder.FPath + u"\" is a link");
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) RaiseOSError(ERROR_DIRECTORY, u"\"" + folder.FPath + u"\"");
  const String final = FinalPathOf(folder.FHandle.Get());
  if (final.empty()) RaiseLastOSError(u"GetFinalPathNameByHandle \"" + folder.FPath + u"\"");
  folder.FFinalPath = IncludeTrailingBackslash(final);

  if (trust == TTrust::FolderAsGiven) return folder;
  const String nominal = Comparable(platform::ExtendedLengthPath(folder.FPath));
  if (trust == TTrust::NoLinks) {
    if (!SameText(folder.FFinalPath, IncludeTrailingBackslash(LongPathName(nominal))))
      throw ELinkedPathError(u"A link on the path \"" + folder.FPath + u"\" leads to \"" + folder.FFinalPath + u"\"");
    return folder;
  }
  // The folder must be its parent's entry: under Wine a Unix symlink opens as its target.
  const String parentPath = ExtractFilePath(ExcludeTrailingBackslash(nominal));
  if (parentPath.empty() || parentPath.size() >= nominal.size()) return folder;
  const TFileHandle parent = OpenByPath(parentPath, FILE_READ_ATTRIBUTES);
  if (!parent) return folder;  // a root that cannot be looked above: the folder itself was checked
  const String parentFinal = FinalPathOf(parent.Get());
  if (parentFinal.empty() ||
      !SameText(folder.FFinalPath,
                IncludeTrailingBackslash(IncludeTrailingBackslash(parentFinal) +
                                         ExtractFileName(ExcludeTrailingBackslash(LongPathName(nominal))))))
    throw ELinkedPathError(u"\"" + folder.FPath + u"\" is a link to \"" + folder.FFinalPath + u"\"");
  return folder;
}

std::optional<TSafeFolder> TSafeFolder::OpenIfExists(StringView path, TTrust trust) {
  try {
    return Open(path, trust);
  } catch (const EOSError& e) {
    if (IsNotFoundError(e.ErrorCode())) return std::nullopt;
    throw;
  }
}

TSafeFolder TSafeFolder::Create(StringView path, TTrust trust, SECURITY_ATTRIBUTES* security) {
  const String full = IncludeTrailingBackslash(String(path));
  std::vector<String> missing;
  String existing = full;
  for (;;) {
    if (std::optional<TSafeFolder> folder = OpenIfExists(existing, trust)) {
      TSafeFolder current = std::move(*folder);
      for (size_t i = missing.size(); i-- > 0;) current = current.CreateFolder(missing[i], security);
      return current;
    }
    const String trimmed = ExcludeTrailingBackslash(existing);
    const String parent = ExtractFilePath(trimmed);
    if (parent.empty() || parent.size() >= existing.size()) RaiseOSError(ERROR_PATH_NOT_FOUND, u"\"" + full + u"\"");
    missing.push_back(ExtractFileName(trimmed));
    existing = parent;
  }
}

std::vector<TFolderEntry> TSafeFolder::List() const {
  std::vector<TFolderEntry> entries;
  std::vector<uint8_t> buffer(64 * 1024);
  // A handle of its own for each listing, opened on the held folder itself: Wine keeps a
  // handle's listing as it was when first read, so a second one would miss new entries.
  UNICODE_STRING self{};
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &self, 0, FHandle.Get(), nullptr);
  IO_STATUS_BLOCK opened{};
  HANDLE raw = nullptr;
  const NTSTATUS status =
      ::NtCreateFile(&raw, FILE_LIST_DIRECTORY | SYNCHRONIZE, &object, &opened, nullptr, 0, kShareAll, FILE_OPEN,
                     FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT, nullptr, 0);
  if (!NT_SUCCESS(status)) RaiseOSError(::RtlNtStatusToDosError(status), u"NtCreateFile \"" + FPath + u"\"");
  const TFileHandle listing(raw);
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ::NtQueryDirectoryFile(listing.Get(), nullptr, nullptr, nullptr, &io, buffer.data(),
                                                   static_cast<ULONG>(buffer.size()), FileIdBothDirectoryInformation,
                                                   FALSE, nullptr, restart);
    if (status == static_cast<NTSTATUS>(0x80000006L)) return entries;  // STATUS_NO_MORE_FILES
    if (!NT_SUCCESS(status)) RaiseOSError(::RtlNtStatusToDosError(status), u"NtQueryDirectoryFile \"" + FPath + u"\"");
    for (size_t at = 0;;) {
      const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
      String name = from_wcstr(info->FileName, info->FileNameLength / sizeof(wchar_t));
      if (name != u"." && name != u"..")
        entries.push_back({std::move(name), info->FileAttributes, static_cast<uint64_t>(info->EndOfFile.QuadPart)});
      if (info->NextEntryOffset == 0) break;
      at += info->NextEntryOffset;
    }
  }
}

TSafeFolder TSafeFolder::Subfolder(StringView name, TOpened&& opened) const {
  if (opened.IsLink()) throw ELinkedPathError(u"\"" + Describe(name) + u"\" is a link");
  TSafeFolder folder;
  folder.FPath = Describe(name) + u"\\";
  folder.FFinalPath = FFinalPath + String(name) + u"\\";
  folder.FHandle = std::move(opened.Handle);
  return folder;
}

std::optional<TSafeFolder> TSafeFolder::OpenFolder(StringView name) const {
  TOpened opened = OpenRelative(name, kFolderAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE);
  if (IsNotFound(opened.Status)) return std::nullopt;
  if (!NT_SUCCESS(opened.Status))
    RaiseOSError(::RtlNtStatusToDosError(opened.Status), u"NtCreateFile \"" + Describe(name) + u"\"");
  return Subfolder(name, std::move(opened));
}

TSafeFolder TSafeFolder::CreateFolder(StringView name, SECURITY_ATTRIBUTES* security, bool mustBeNew) const {
  TOpened opened = OpenRelative(name, kFolderAccess, kShareAll, mustBeNew ? FILE_CREATE : FILE_OPEN_IF,
                                FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_NORMAL, security);
  if (!NT_SUCCESS(opened.Status))
    RaiseOSError(::RtlNtStatusToDosError(opened.Status), u"NtCreateFile \"" + Describe(name) + u"\\\"");
  return Subfolder(name, std::move(opened));
}

TFileHandle TSafeFolder::OpenFile(StringView name, DWORD access, DWORD share) const {
  TOpened opened = OpenRelative(name, access, share, FILE_OPEN, FILE_NON_DIRECTORY_FILE);
  if (IsNotFound(opened.Status)) return {};
  if (!NT_SUCCESS(opened.Status))
    RaiseOSError(::RtlNtStatusToDosError(opened.Status), u"NtCreateFile \"" + Describe(name) + u"\"");
  if (opened.IsLink()) throw ELinkedPathError(u"\"" + Describe(name) + u"\" is a link");
  return std::move(opened.Handle);
}

TFileHandle TSafeFolder::CreateNewFile(StringView name, DWORD access, DWORD share, DWORD attributes,
                                       ULONG options) const {
  TOpened opened =
      OpenRelative(name, access | DELETE, share, FILE_CREATE, FILE_NON_DIRECTORY_FILE | options, attributes);
  if (!NT_SUCCESS(opened.Status))
    RaiseOSError(::RtlNtStatusToDosError(opened.Status), u"NtCreateFile \"" + Describe(name) + u"\"");
  if (opened.IsLink()) {
    // Made somewhere else than asked: it goes again at once.
    FILE_DISPOSITION_INFO disposition{TRUE};
    ::SetFileInformationByHandle(opened.Handle.Get(), FileDispositionInfo, &disposition, sizeof disposition);
    throw ELinkedPathError(u"\"" + Describe(name) + u"\" was made through a link");
  }
  return std::move(opened.Handle);
}

TDeleteResult TSafeFolder::DeleteEntry(StringView name) const {
  TOpened opened = OpenRelative(name, DELETE | FILE_WRITE_ATTRIBUTES, kShareAll, FILE_OPEN, 0);
  if (IsNotFound(opened.Status)) return TDeleteResult::Missing;
  if (!NT_SUCCESS(opened.Status)) return TDeleteResult::InUse;
  // Under Wine a Unix symlink opens as its target: nothing may be done with that handle.
  if (!opened.NamesEntry) return TDeleteResult::Refused;
  const HANDLE handle = opened.Handle.Get();
  FILE_BASIC_INFO basic{};
  const bool readOnly = (opened.Attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly) {
    // Cleared through the handle that is deleted, so it is this entry's attribute, not a target's.
    basic.FileAttributes = (opened.Attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
    return TDeleteResult::Deleted;
  const DWORD error = ::GetLastError();
  if (readOnly) {
    basic.FileAttributes = opened.Attributes;
    ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
  }
  return error == ERROR_DIR_NOT_EMPTY ? TDeleteResult::Refused : TDeleteResult::InUse;
}

void TSafeFolder::Rename(StringView from, StringView to, bool replace) const { MoveTo(from, *this, to, replace); }

void TSafeFolder::MoveTo(StringView name, const TSafeFolder& target, StringView newName, bool replace) const {
  TOpened opened = OpenRelative(name, DELETE, kShareAll, FILE_OPEN, 0);
  if (!NT_SUCCESS(opened.Status))
    RaiseOSError(::RtlNtStatusToDosError(opened.Status), u"NtCreateFile \"" + Describe(name) + u"\"");
  if (!opened.NamesEntry) throw ELinkedPathError(u"\"" + Describe(name) + u"\" is a link");
  target.RenameInto(opened.Handle.Get(), newName, replace);
}

void TSafeFolder::RenameInto(HANDLE file, StringView to, bool replace) const {
  CheckName(to, FPath);
  std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFORMATION) + to.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  // The new name relative to this held folder: a swap of the folder's path cannot move it.
  // Straight to the system: Wine's SetFileInformationByHandle makes a relative name
  // absolute against the current folder first, which the root folder then refuses.
  info->RootDirectory = FHandle.Get();
  info->FileNameLength = static_cast<ULONG>(to.size() * sizeof(wchar_t));
  std::copy(to.begin(), to.end(), reinterpret_cast<char16_t*>(info->FileName));
  IO_STATUS_BLOCK io{};
  const NTSTATUS status =
      ::NtSetInformationFile(file, &io, info, static_cast<ULONG>(buffer.size()), FileRenameInformation);
  if (!NT_SUCCESS(status))
    RaiseOSError(::RtlNtStatusToDosError(status), u"NtSetInformationFile (rename) to \"" + Describe(to) + u"\"");
}

}  // namespace zel
