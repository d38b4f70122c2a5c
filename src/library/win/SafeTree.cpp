#include "library/win/SafeTree.h"

#include <windows.h>
#include <bcrypt.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <mutex>

#include "library/win/FileSystem.h"
#include "library/win/OSError.h"
#include "platform/Platform.h"

namespace zel {

namespace {

constexpr size_t kCopyBuffer = 1 << 20;

String Key(StringView relative) { return platform::CaseInsensitiveKey(relative); }

}  // namespace

namespace {

// The copy itself, from a source the caller opened.
void CopyOpenFile(const TFileHandle& from, const TSafeFolder& source, StringView sourceName, const TSafeFolder& target,
                  StringView name) {
  FILE_BASIC_INFO basic;
  if (!::GetFileInformationByHandleEx(from.Get(), FileBasicInfo, &basic, sizeof basic))
    RaiseLastOSError(u"GetFileInformationByHandleEx \"" + source.Path() + String(sourceName) + u"\"");
  // An existing target goes first (as a link, when it is one), so the copy is always a file
  // of its own that was made here.
  const TDeleteResult removed = target.DeleteEntry(name);
  if (removed == TDeleteResult::Refused) throw ELinkedPathError(u"\"" + target.Path() + String(name) + u"\" is a link");
  if (removed == TDeleteResult::InUse)
    RaiseOSError(ERROR_SHARING_VIOLATION, u"\"" + target.Path() + String(name) + u"\"");
  const TFileHandle to = target.CreateNewFile(name, GENERIC_WRITE | FILE_WRITE_ATTRIBUTES);
  std::vector<uint8_t> buffer(kCopyBuffer);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(from.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
      RaiseLastOSError(u"ReadFile \"" + source.Path() + String(sourceName) + u"\"");
    if (read == 0) break;
    WriteAllOrRaise(to.Get(), buffer.data(), read, u"WriteFile \"" + target.Path() + String(name) + u"\"");
  }
  basic.FileAttributes &=
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  basic.ChangeTime.QuadPart = 0;                                                // left to the system
  ::SetFileInformationByHandle(to.Get(), FileBasicInfo, &basic, sizeof basic);  // times are not worth a failure
}

void WalkFiles(const TSafeFolder& folder, const String& relative, const TFileFound& found,
               const std::function<bool(const String&)>& skip) {
  for (const TFolderEntry& entry : folder.List()) {
    if (!entry.IsFolder()) {
      found(folder, entry, relative + entry.Name);
      continue;
    }
    if (entry.IsLink()) continue;
    const String sub = relative + entry.Name + u"\\";
    if (skip && skip(sub)) continue;
    std::optional<TSafeFolder> child;
    try {
      child = folder.OpenFolder(entry.Name);
    } catch (const ELinkedPathError&) {
      continue;  // swapped for a link since it was listed: not entered
    }
    if (child) WalkFiles(*child, sub, found, skip);
  }
}

// The folder that holds at-restart deletions: created once per process, kept open so that
// its name keeps naming it.
std::mutex gAsideLock;
std::optional<TSafeFolder> gAsideFolder;

String AsideParent() {
  if (::IsUserAnAdmin()) {
    // The system's temporary folder: users may add to it, but not rename or replace what
    // an administrator made there.
    wchar_t windows[MAX_PATH];
    const UINT n = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (n > 0 && n < MAX_PATH) return IncludeTrailingBackslash(from_wcstr(windows, n)) + u"Temp\\";
  }
  return LongTempFolder();
}

}  // namespace

void CopyFileBetween(const TSafeFolder& source, StringView sourceName, const TSafeFolder& target, StringView name) {
  const TFileHandle from = source.OpenFile(sourceName, GENERIC_READ, FILE_SHARE_READ);
  if (!from) RaiseOSError(ERROR_FILE_NOT_FOUND, u"\"" + source.Path() + String(sourceName) + u"\"");
  CopyOpenFile(from, source, sourceName, target, name);
}

bool DeleteContents(const TSafeFolder& folder) {
  for (const TFolderEntry& entry : folder.List())
    if (!DeleteTree(folder, entry.Name)) return false;
  return true;
}

bool DeleteTree(const TSafeFolder& parent, StringView name) {
  std::optional<TSafeFolder> folder;
  try {
    folder = parent.OpenFolder(name);
  } catch (const ELinkedPathError&) {
    // A link, also one swapped in after the listing: only the link itself may go.
    return parent.DeleteEntry(name) == TDeleteResult::Deleted;
  } catch (const EOSError& e) {
    if (e.ErrorCode() != ERROR_DIRECTORY) return false;
  }
  if (folder) {
    if (!DeleteContents(*folder)) return false;
    folder.reset();
  }
  const TDeleteResult result = parent.DeleteEntry(name);
  return result == TDeleteResult::Deleted || result == TDeleteResult::Missing;
}

void ForEachFile(const TSafeFolder& root, const TFileFound& found, const std::function<bool(const String&)>& skip) {
  WalkFiles(root, String(), found, skip);
}

void CopyTree(const TSafeFolder& source, const TSafeFolder& target) {
  for (const TFolderEntry& entry : source.List()) {
    if (entry.IsLink()) continue;
    if (entry.IsFolder()) {
      std::optional<TSafeFolder> from = source.OpenFolder(entry.Name);
      if (from) CopyTree(*from, target.CreateFolder(entry.Name));
    } else {
      // A file that opens as a link (Wine lists a Unix link to a file as a file) is not
      // copied, as a listed link is not; a link in the target stops the copy.
      TFileHandle from;
      try {
        from = source.OpenFile(entry.Name, GENERIC_READ, FILE_SHARE_READ);
      } catch (const ELinkedPathError&) {
        continue;
      }
      if (!from) RaiseOSError(ERROR_FILE_NOT_FOUND, u"\"" + source.Path() + entry.Name + u"\"");
      CopyOpenFile(from, source, entry.Name, target, entry.Name);
    }
  }
}

const TSafeFolder* TFolderTree::Folder(StringView relativeFolder, bool create) {
  if (relativeFolder.empty()) return &FRoot;
  const String key = Key(relativeFolder);
  const auto held = FFolders.find(key);
  if (held != FFolders.end()) return &held->second;
  const String trimmed = ExcludeTrailingBackslash(String(relativeFolder));
  const String parentPath = ExtractFilePath(trimmed);
  const TSafeFolder* parent = Folder(parentPath, create);
  if (!parent) return nullptr;
  const String name = ExtractFileName(trimmed);
  std::optional<TSafeFolder> folder = create ? parent->CreateFolder(name) : parent->OpenFolder(name);
  if (!folder) return nullptr;
  return &FFolders.emplace(key, std::move(*folder)).first->second;
}

void TFolderTree::Forget(StringView relativeFolder) {
  const String key = Key(relativeFolder);
  for (auto it = FFolders.lower_bound(key); it != FFolders.end() && StartsWith(it->first, key);)
    it = FFolders.erase(it);
}

std::optional<std::vector<uint8_t>> ReadFileBytes(const TSafeFolder& folder, StringView name, size_t limit) {
  const TFileHandle file = folder.OpenFile(name, GENERIC_READ, FILE_SHARE_READ);
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size)) RaiseLastOSError(u"GetFileSizeEx \"" + folder.Path() + String(name) + u"\"");
  if (static_cast<uint64_t>(size.QuadPart) > limit) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty() && !::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
    RaiseLastOSError(u"ReadFile \"" + folder.Path() + String(name) + u"\"");
  // Shorter than its size a moment ago: it changed while read (no error code says so).
  if (read != bytes.size()) RaiseOSError(ERROR_HANDLE_EOF, u"ReadFile \"" + folder.Path() + String(name) + u"\"");
  return bytes;
}

void RemoveFilesAndEmptiedFolders(TFolderTree& tree, const std::vector<String>& relative, const TRemoveReport& report) {
  std::vector<String> folders;
  for (size_t i = relative.size(); i-- > 0;) {
    const String& path = relative[i];
    try {
      if (const TSafeFolder* folder = tree.Folder(ExtractFilePath(path)))
        if (folder->DeleteEntry(ExtractFileName(path)) == TDeleteResult::Deleted) report(path, String());
    } catch (const Exception& e) {
      report(path, e.Message());
    }
    const size_t slash = path.rfind(u'\\');
    if (slash != String::npos) folders.push_back(path.substr(0, slash + 1));
  }
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (size_t i = folders.size(); i-- > 0;) {
    tree.Forget(folders[i]);
    const String trimmed = ExcludeTrailingBackslash(folders[i]);
    try {
      if (const TSafeFolder* parent = tree.Folder(ExtractFilePath(trimmed)))
        parent->DeleteEntry(ExtractFileName(trimmed));
    } catch (const Exception&) {
      // A folder that cannot go now is left; the files were what mattered.
    }
  }
}

String RandomHex(size_t bytes) {
  std::vector<uint8_t> data(bytes);
  if (!BCRYPT_SUCCESS(
          ::BCryptGenRandom(nullptr, data.data(), static_cast<ULONG>(data.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    throw Exception(u"No random numbers for a private name (BCryptGenRandom)");
  static const char16_t digits[] = u"0123456789ABCDEF";
  String text;
  for (uint8_t b : data) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

TSafeFolder CreatePrivateFolder(StringView parent, StringView prefix) {
  // Only the system and administrators: an elevated process must not use a folder in which
  // the user's other, unelevated programs can swap its files.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_ATTRIBUTES attributes{};
  if (::IsUserAnAdmin() && ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                               L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr)) {
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor;
  }
  const TLocalMemory owner(descriptor);
  return CreateUniqueFolder(TSafeFolder::Open(parent), prefix, descriptor ? &attributes : nullptr);
}

TSafeFolder CreateUniqueFolder(const TSafeFolder& parent, StringView prefix, SECURITY_ATTRIBUTES* security) {
  for (int attempt = 0;; ++attempt) {
    try {
      return parent.CreateFolder(String(prefix) + RandomHex(8), security, true);
    } catch (const EOSError& e) {
      if (e.ErrorCode() != ERROR_ALREADY_EXISTS || attempt >= 16) throw;
    }
  }
}

bool MoveAsideUntilRestart(const TSafeFolder& folder, StringView name, String* movedTo) {
  try {
    std::lock_guard<std::mutex> lock(gAsideLock);
    if (!gAsideFolder) gAsideFolder = CreatePrivateFolder(AsideParent(), u"KIVO Setup ");
    const String newName = u"delete " + RandomHex(8);
    folder.MoveTo(name, *gAsideFolder, newName, false);
    const String moved = gAsideFolder->Path() + newName;
    // The folder after its files: it goes with the last of them.
    ::MoveFileExW(as_wcstr(platform::ExtendedLengthPath(moved)), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    ::MoveFileExW(as_wcstr(platform::ExtendedLengthPath(ExcludeTrailingBackslash(gAsideFolder->Path()))), nullptr,
                  MOVEFILE_DELAY_UNTIL_REBOOT);
    if (movedTo) *movedTo = moved;
    return true;
  } catch (const Exception&) {
    return false;  // another volume, or held without leave to rename: it stays where it is
  }
}

}  // namespace zel
