// Win32 services for the portable core.
#include <windows.h>

#include "library/Strings.h"
#include "platform/Platform.h"

namespace zel::platform {

namespace {
const wchar_t* W(std::u16string_view s) { return reinterpret_cast<const wchar_t*>(s.data()); }
}  // namespace

int CompareTextIgnoreCase(std::u16string_view a, std::u16string_view b) {
  const int r = ::CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, W(a), static_cast<int>(a.size()), W(b),
                                  static_cast<int>(b.size()), nullptr, nullptr, 0);
  return r == CSTR_EQUAL ? 0 : (r == CSTR_LESS_THAN ? -1 : 1);
}

namespace {
std::u16string MapCase(std::u16string_view text, DWORD flags) {
  if (text.empty()) return {};
  std::u16string out(text.size(), u'\0');
  const int n =
      ::LCMapStringEx(LOCALE_NAME_USER_DEFAULT, flags, W(text), static_cast<int>(text.size()),
                      reinterpret_cast<wchar_t*>(out.data()), static_cast<int>(out.size()), nullptr, nullptr, 0);
  if (n <= 0) return std::u16string(text);
  out.resize(static_cast<size_t>(n));
  return out;
}
}  // namespace

std::u16string UpperCase(std::u16string_view text) { return MapCase(text, LCMAP_UPPERCASE); }
std::u16string LowerCase(std::u16string_view text) { return MapCase(text, LCMAP_LOWERCASE); }

unsigned AnsiCodePage() { return ::GetACP(); }

bool DecodeCodePage(const char* data, size_t size, unsigned codePage, std::u16string& out) {
  out.clear();
  if (size == 0) return true;
  if (codePage == 0) codePage = CP_ACP;
  const int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, data, static_cast<int>(size), nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, data, static_cast<int>(size),
                        reinterpret_cast<wchar_t*>(out.data()), n);
  return true;
}

std::string EncodeCodePage(std::u16string_view text, unsigned codePage) {
  if (text.empty()) return {};
  if (codePage == 0) codePage = CP_ACP;
  const int n =
      ::WideCharToMultiByte(codePage, 0, W(text), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(codePage, 0, W(text), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

unsigned UserDefaultUILanguage() { return ::GetUserDefaultUILanguage(); }

std::u16string ProcessCommandLine() {
  const wchar_t* line = ::GetCommandLineW();
  return line ? std::u16string(reinterpret_cast<const char16_t*>(line)) : std::u16string();
}

FileHandle FileOpen(std::u16string_view path, FileAccess access, FileDisposition disposition, unsigned share,
                    unsigned& lastError) {
  const DWORD desired = access == FileAccess::Read    ? GENERIC_READ
                        : access == FileAccess::Write ? GENERIC_WRITE
                                                      : GENERIC_READ | GENERIC_WRITE;
  DWORD shareMode = 0;
  if (share & ShareRead) shareMode |= FILE_SHARE_READ;
  if (share & ShareWrite) shareMode |= FILE_SHARE_WRITE;
  if (share & ShareDelete) shareMode |= FILE_SHARE_DELETE;
  const DWORD create = disposition == FileDisposition::OpenExisting   ? OPEN_EXISTING
                       : disposition == FileDisposition::CreateAlways ? CREATE_ALWAYS
                                                                      : OPEN_ALWAYS;
  const std::u16string name = ExtendedLengthPath(path);
  HANDLE h = ::CreateFileW(W(name), desired, shareMode, nullptr, create, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    lastError = ::GetLastError();
    return InvalidFile;
  }
  return reinterpret_cast<FileHandle>(h);
}

void FileClose(FileHandle handle) noexcept {
  if (handle != InvalidFile) ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

int64_t FileRead(FileHandle handle, void* buffer, size_t count) {
  DWORD done = 0;
  const DWORD want = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
  if (!::ReadFile(reinterpret_cast<HANDLE>(handle), buffer, want, &done, nullptr)) return -1;
  return done;
}

int64_t FileWrite(FileHandle handle, const void* buffer, size_t count) {
  DWORD done = 0;
  const DWORD want = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
  if (!::WriteFile(reinterpret_cast<HANDLE>(handle), buffer, want, &done, nullptr)) return -1;
  return done;
}

int64_t FileSeek(FileHandle handle, int64_t offset, int origin) {
  LARGE_INTEGER distance, result;
  distance.QuadPart = offset;
  static const DWORD method[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
  if (!::SetFilePointerEx(reinterpret_cast<HANDLE>(handle), distance, &result, method[origin])) return -1;
  return result.QuadPart;
}

bool FileTruncate(FileHandle handle) { return ::SetEndOfFile(reinterpret_cast<HANDLE>(handle)) != FALSE; }

bool ClearFileAttributes(std::u16string_view path) {
  const std::u16string name = ExtendedLengthPath(path);
  return ::SetFileAttributesW(W(name), FILE_ATTRIBUTE_NORMAL) != FALSE;
}

// CreateDirectory's limit: MAX_PATH less room for an 8.3 file name.
constexpr size_t kMaxShortFolderPath = MAX_PATH - 12;

std::u16string ExtendedLengthPath(std::u16string_view path) {
  // 248, not MAX_PATH: folders are refused from there on without the prefix.
  if (path.size() < kMaxShortFolderPath || path.substr(0, 4) == u"\\\\?\\" || path.substr(0, 4) == u"\\\\.\\")
    return std::u16string(path);
  // The prefixed form is passed to the file system unparsed: make it absolute and
  // canonical first.
  const std::u16string name(path);
  std::u16string full(32768, u'\0');
  const DWORD n =
      ::GetFullPathNameW(W(name), static_cast<DWORD>(full.size()), reinterpret_cast<wchar_t*>(full.data()), nullptr);
  if (n == 0 || n >= full.size()) return name;
  full.resize(n);
  if (full.substr(0, 2) == u"\\\\") return u"\\\\?\\UNC\\" + full.substr(2);
  return u"\\\\?\\" + full;
}

std::u16string SystemErrorMessage(unsigned code) {
  wchar_t* buffer = nullptr;
  const DWORD n =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::u16string text;
  if (n && buffer) text.assign(reinterpret_cast<const char16_t*>(buffer), n);
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
  return text;
}

}  // namespace zel::platform

// --- Lookup keys for case-insensitive names (the INI document's hash index).
namespace zel::platform {

std::u16string CaseInsensitiveKey(std::u16string_view text) {
  if (text.empty()) return {};
  // The sort key under CompareTextIgnoreCase's locale and flags: Windows documents that
  // comparing two sort keys gives what CompareStringEx gives for the texts. An upper-case
  // mapping would not do: it keeps the Kelvin sign apart from K and final sigma apart
  // from sigma, which the comparison calls equal.
  constexpr DWORD kFlags = LCMAP_SORTKEY | NORM_IGNORECASE;
  const int size = ::LCMapStringEx(LOCALE_NAME_USER_DEFAULT, kFlags, W(text), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr, 0);
  if (size > 0) {
    std::string bytes(static_cast<size_t>(size), '\0');
    if (::LCMapStringEx(LOCALE_NAME_USER_DEFAULT, kFlags, W(text), static_cast<int>(text.size()),
                        reinterpret_cast<wchar_t*>(bytes.data()), size, nullptr, nullptr, 0) == size) {
      std::u16string key((bytes.size() + 1) / 2, u'\0');
      for (size_t i = 0; i < bytes.size(); ++i)
        key[i / 2] |= static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) << (i % 2 ? 8 : 0));
      return key;
    }
  }
  // No sort key (a text the locale cannot weigh): the text itself, marked so that it
  // never meets a sort key. Such texts then match only themselves.
  std::u16string key(1, u'\xFFFF');
  key += text;
  return key;
}

}  // namespace zel::platform

// --- Paths after links

namespace zel::platform {

namespace {

bool IsNotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

enum class TEntryState { Missing, Present, Unknown };

TEntryState ExamineEntry(const std::u16string& path) {
  const std::u16string name = ExtendedLengthPath(path);
  if (::GetFileAttributesW(W(name)) != INVALID_FILE_ATTRIBUTES) return TEntryState::Present;
  if (!IsNotFound(::GetLastError())) return TEntryState::Unknown;
  // Windows reports a dangling link's own attributes above. Wine 8 reports a Unix symlink
  // to nowhere as "not found" there, but its directory scan then fails with
  // ERROR_NO_MORE_FILES rather than "not found": anything but "not found" is there.
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW(W(name), &data);
  if (find != INVALID_HANDLE_VALUE) {
    ::FindClose(find);
    return TEntryState::Present;
  }
  // A name below a file ("C:\\file\\x": Wine says ERROR_INVALID_NAME, Windows
  // ERROR_DIRECTORY) cannot exist either, so no write can be sent anywhere through it.
  const DWORD error = ::GetLastError();
  return IsNotFound(error) || error == ERROR_INVALID_NAME || error == ERROR_DIRECTORY ? TEntryState::Missing
                                                                                      : TEntryState::Unknown;
}

// The final path of an existing file or folder, every link, junction and mount point
// followed, in its plain DOS form ("C:\x", "\\server\share\x").
bool FinalPath(const std::u16string& path, std::u16string& out) {
  const std::u16string name = ExtendedLengthPath(path);
  const HANDLE handle =
      ::CreateFileW(W(name), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  std::u16string final(32768, u'\0');
  const DWORD n = ::GetFinalPathNameByHandleW(handle, reinterpret_cast<wchar_t*>(final.data()),
                                              static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  const DWORD error = ::GetLastError();
  ::CloseHandle(handle);
  if ((n == 0 && error == ERROR_MORE_DATA) || n >= final.size()) {
    // Wine 8 answers ERROR_MORE_DATA for any final path longer than MAX_PATH, whatever
    // the buffer. Then the parent's final path stands in, with this component as it is,
    // provided the component itself is no link.
    const size_t cut = path.find_last_of(u'\\');
    const DWORD attributes = ::GetFileAttributesW(W(name));
    if (cut == std::u16string::npos || cut + 1 >= path.size() || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return false;
    std::u16string parent;
    if (!FinalPath(path.substr(0, cut), parent)) return false;
    out = parent + (parent.empty() || parent.back() != u'\\' ? u"\\" : u"") + path.substr(cut + 1);
    return true;
  }
  if (n == 0) return false;
  final.resize(n);
  if (final.compare(0, 8, u"\\\\?\\UNC\\") == 0) out = u"\\\\" + final.substr(8);
  else if (final.compare(0, 4, u"\\\\?\\") == 0) out = final.substr(4);
  else out = final;
  return true;
}

// Length of the root of a full path: "C:\" or "\\server\share\" (prefixed forms too).
size_t RootLength(const std::u16string& path) {
  size_t at = 0;
  if (path.compare(0, 8, u"\\\\?\\UNC\\") == 0) at = 8;
  else if (path.compare(0, 4, u"\\\\?\\") == 0) at = 4;
  else if (path.compare(0, 2, u"\\\\") == 0) at = 2;
  if (at != 4 && at != 0) {
    const size_t server = path.find(u'\\', at);
    const size_t share = server == std::u16string::npos ? server : path.find(u'\\', server + 1);
    return share == std::u16string::npos ? path.size() : share + 1;
  }
  return path.size() < at + 3 ? path.size() : at + 3;
}

// The full path with its deepest existing ancestor replaced by that one's final path.
bool ResolveExisting(std::u16string_view input, std::u16string& out) {
  const std::u16string name(input);
  std::u16string full(32768, u'\0');
  const DWORD n =
      ::GetFullPathNameW(W(name), static_cast<DWORD>(full.size()), reinterpret_cast<wchar_t*>(full.data()), nullptr);
  if (n == 0 || n >= full.size()) return false;
  full.resize(n);
  const size_t root = RootLength(full);
  while (full.size() > root && full.back() == u'\\') full.pop_back();

  std::u16string existing = full, rest;
  for (;;) {
    const TEntryState state = ExamineEntry(existing);
    if (state == TEntryState::Unknown) return false;
    if (state == TEntryState::Present) break;
    if (existing.size() <= root) return false;  // no such drive or share
    const size_t cut = existing.find_last_of(u'\\');
    rest = existing.substr(cut + 1) + (rest.empty() ? u"" : u"\\" + rest);
    existing.resize(cut < root ? root : cut);
  }
  if (!FinalPath(existing, out)) return false;
  if (!rest.empty()) {
    if (out.empty() || out.back() != u'\\') out += u'\\';
    out += rest;
  }
  return true;
}

}  // namespace

bool PathStaysInside(std::u16string_view folder, std::u16string_view path) {
  std::u16string root, target;
  if (!ResolveExisting(folder, root) || !ResolveExisting(path, target)) return false;
  if (root.size() > 3 && root.back() == u'\\') root.pop_back();
  if (target.size() < root.size() ||
      CompareTextIgnoreCase(std::u16string_view(target).substr(0, root.size()), root) != 0)
    return false;
  return target.size() == root.size() || root.back() == u'\\' || target[root.size()] == u'\\';
}

}  // namespace zel::platform

// --- Facts of an open file, times, flushing ---------------------------------------------
namespace zel::platform {

bool FileGetInformation(FileHandle handle, FileInformation& info, unsigned& lastError) {
  // Not GetFileInformationByHandle: it also asks for the volume's serial number, which costs
  // Wine about half a millisecond per file.
  const HANDLE h = reinterpret_cast<HANDLE>(handle);
  FILE_BASIC_INFO basic;
  LARGE_INTEGER size;
  if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) || !::GetFileSizeEx(h, &size)) {
    lastError = ::GetLastError();
    return false;
  }
  info.Size = uint64_t(size.QuadPart);
  info.LastWriteTime = basic.LastWriteTime.QuadPart;
  info.LastAccessTime = basic.LastAccessTime.QuadPart;
  info.CreationTime = basic.CreationTime.QuadPart;
  info.Attributes = basic.FileAttributes;
  return true;
}

bool UtcToLocalTime(int64_t utcTicks, LocalDateTime& local) {
  // Not FileTimeToLocalFileTime: that applies today's daylight-saving bias to every date.
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(uint64_t(utcTicks));
  ft.dwHighDateTime = static_cast<DWORD>(uint64_t(utcTicks) >> 32);
  SYSTEMTIME utc, lt;
  if (utcTicks < 0 || !::FileTimeToSystemTime(&ft, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &lt))
    return false;
  local = {lt.wYear, lt.wMonth, lt.wDay, lt.wHour, lt.wMinute, lt.wSecond};
  return true;
}

bool FileFlush(FileHandle handle) { return ::FlushFileBuffers(reinterpret_cast<HANDLE>(handle)) != FALSE; }

unsigned LastErrorCode() { return ::GetLastError(); }

}  // namespace zel::platform
