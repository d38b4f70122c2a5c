// Linux services for the portable core: the package tool, unit tests and fuzzers.
#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

#include "library/Strings.h"
#include "platform/Platform.h"

namespace zel::platform {

namespace {

locale_t Utf8Locale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
  }();
  return loc;
}

char16_t Upper(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
  if (c >= 0xD800 && c < 0xE000) return c;
  const wint_t u = towupper_l(static_cast<wint_t>(c), Utf8Locale());
  return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

char16_t Lower(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
  if (c >= 0xD800 && c < 0xE000) return c;
  const wint_t u = towlower_l(static_cast<wint_t>(c), Utf8Locale());
  return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

bool Iconv(const char* from, const char* to, const char* data, size_t size, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.assign(size * 4 + 16, '\0');
  char* in = const_cast<char*>(data);
  size_t inLeft = size;
  char* dst = out.data();
  size_t outLeft = out.size();
  const size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return false;
  out.resize(out.size() - outLeft);
  return true;
}

}  // namespace

int CompareTextIgnoreCase(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = Upper(a[i]), y = Upper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::u16string UpperCase(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = Upper(c);
  return out;
}

std::u16string LowerCase(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = Lower(c);
  return out;
}

unsigned AnsiCodePage() {
  // Linux has no ANSI code page; a western Windows system's is 1252.
  const char* env = std::getenv("KIVO_ANSI_CODEPAGE");
  return env ? static_cast<unsigned>(std::atoi(env)) : 1252u;
}

bool DecodeCodePage(const char* data, size_t size, unsigned codePage, std::u16string& out) {
  if (codePage == 0) codePage = AnsiCodePage();
  if (codePage == 65001) return TryFromUtf8(std::string_view(data, size), out);
  const std::string from = "CP" + std::to_string(codePage);
  std::string utf16;
  if (!Iconv(from.c_str(), "UTF-16LE", data, size, utf16)) return false;
  out.resize(utf16.size() / 2);
  std::memcpy(out.data(), utf16.data(), out.size() * 2);
  return true;
}

std::string EncodeCodePage(std::u16string_view text, unsigned codePage) {
  if (codePage == 0) codePage = AnsiCodePage();
  if (codePage == 65001) return ToUtf8(text);
  const std::string to = "CP" + std::to_string(codePage) + "//TRANSLIT";
  std::string out;
  if (Iconv("UTF-16LE", to.c_str(), reinterpret_cast<const char*>(text.data()), text.size() * 2, out)) return out;
  out.clear();
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

unsigned UserDefaultUILanguage() {
  const char* env = std::getenv("KIVO_UI_LANGUAGE");
  return env ? static_cast<unsigned>(std::atoi(env)) : 1033u;
}

std::u16string ProcessCommandLine() {
  // /proc/self/cmdline: NUL-separated arguments; rebuild a Windows-style line.
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string line;
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    std::string arg = raw.substr(start, end - start);
    if (!line.empty()) line += ' ';
    if (arg.find(' ') != std::string::npos) line += '"' + arg + '"';
    else line += arg;
    start = end + 1;
  }
  return FromUtf8(line);
}

FileHandle FileOpen(std::u16string_view path, FileAccess access, FileDisposition disposition, unsigned /*share*/,
                    unsigned& lastError) {
  int flags = access == FileAccess::Read ? O_RDONLY : access == FileAccess::Write ? O_WRONLY : O_RDWR;
  if (disposition == FileDisposition::CreateAlways) flags |= O_CREAT | O_TRUNC;
  if (disposition == FileDisposition::OpenAlways) flags |= O_CREAT;
  const int fd = ::open(ToUtf8(path).c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    lastError = static_cast<unsigned>(errno);
    return InvalidFile;
  }
  return fd;
}

void FileClose(FileHandle handle) noexcept {
  if (handle != InvalidFile) ::close(static_cast<int>(handle));
}

int64_t FileRead(FileHandle handle, void* buffer, size_t count) {
  ssize_t n;
  do n = ::read(static_cast<int>(handle), buffer, count);
  while (n < 0 && errno == EINTR);
  return n;
}

int64_t FileWrite(FileHandle handle, const void* buffer, size_t count) {
  ssize_t n;
  do n = ::write(static_cast<int>(handle), buffer, count);
  while (n < 0 && errno == EINTR);
  return n;
}

int64_t FileSeek(FileHandle handle, int64_t offset, int origin) {
  static const int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  return ::lseek(static_cast<int>(handle), offset, whence[origin]);
}

bool FileTruncate(FileHandle handle) {
  const off_t pos = ::lseek(static_cast<int>(handle), 0, SEEK_CUR);
  return pos >= 0 && ::ftruncate(static_cast<int>(handle), pos) == 0;
}

bool ClearFileAttributes(std::u16string_view path) {
  const std::string name = ToUtf8(path);
  struct stat st;
  if (::stat(name.c_str(), &st) != 0) return false;
  return (st.st_mode & S_IWUSR) || ::chmod(name.c_str(), st.st_mode | S_IWUSR) == 0;
}

std::u16string ExtendedLengthPath(std::u16string_view path) { return std::u16string(path); }

std::u16string SystemErrorMessage(unsigned code) { return FromUtf8(std::strerror(static_cast<int>(code))); }

}  // namespace zel::platform

// --- Lookup keys for case-insensitive names (the INI document's hash index).
namespace zel::platform {

// CompareTextIgnoreCase compares character by character after Upper: the upper-cased
// text is exactly its key.
std::u16string CaseInsensitiveKey(std::u16string_view text) { return UpperCase(text); }

}  // namespace zel::platform

// --- Paths after links

namespace zel::platform {

namespace {

// The absolute form of the path with every existing component's links followed
// (realpath on each link met) and the components below the deepest existing one kept as
// written. False when an existing component cannot be resolved or examined.
bool ResolveExisting(const std::string& input, std::string& out) {
  std::string path = input;
  if (path.empty() || path[0] != '/') {
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd) return false;
    path = std::string(cwd) + "/" + path;
    std::free(cwd);
  }
  std::string resolved;  // free of links; "" stands for the root
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    // The prefix has no links left, so its lexical parent is its real parent.
    if (part == "..") {
      resolved.erase(resolved.rfind('/') == std::string::npos ? 0 : resolved.rfind('/'));
      continue;
    }
    const std::string candidate = resolved + "/" + part;
    struct stat st;
    if (::lstat(candidate.c_str(), &st) != 0) {
      if (errno != ENOENT && errno != ENOTDIR) return false;
      resolved = candidate;  // not there (yet): nothing to follow
      continue;
    }
    if (!S_ISLNK(st.st_mode)) {
      resolved = candidate;
      continue;
    }
    char* real = ::realpath(candidate.c_str(), nullptr);
    if (!real) return false;  // dangling, a loop, or unreadable: where it leads is unknown
    resolved = real;
    std::free(real);
    if (resolved == "/") resolved.clear();
  }
  out = resolved.empty() ? "/" : resolved;
  return true;
}

}  // namespace

bool PathStaysInside(std::u16string_view folder, std::u16string_view path) {
  std::string root, target;
  if (!ResolveExisting(ToUtf8(folder), root) || !ResolveExisting(ToUtf8(path), target)) return false;
  if (target.compare(0, root.size(), root) != 0) return false;
  return target.size() == root.size() || root == "/" || target[root.size()] == '/';
}

}  // namespace zel::platform

// --- Facts of an open file, times, flushing ---------------------------------------------
namespace zel::platform {

namespace {
int64_t Ticks(const struct statx_timestamp& t) {
  return kUnixEpochTicks + int64_t(t.tv_sec) * kTicksPerSecond + t.tv_nsec / 100;
}
}  // namespace

bool FileGetInformation(FileHandle handle, FileInformation& info, unsigned& lastError) {
  // statx for the birth time, which fstat does not report.
  struct statx st;
  if (::statx(static_cast<int>(handle), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
    lastError = static_cast<unsigned>(errno);
    return false;
  }
  info.Size = st.stx_size;
  info.LastWriteTime = Ticks(st.stx_mtime);
  info.LastAccessTime = Ticks(st.stx_atime);
  info.CreationTime = (st.stx_mask & STATX_BTIME) ? Ticks(st.stx_btime) : info.LastWriteTime;
  info.Attributes = 0x20 | ((st.stx_mode & S_IWUSR) ? 0 : 0x01);
  return true;
}

bool UtcToLocalTime(int64_t utcTicks, LocalDateTime& local) {
  // Floor division: times before 1970 are negative.
  int64_t seconds = (utcTicks - kUnixEpochTicks) / kTicksPerSecond;
  if ((utcTicks - kUnixEpochTicks) % kTicksPerSecond < 0) --seconds;
  const time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  if (!::localtime_r(&t, &tm)) return false;
  local = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return true;
}

bool FileFlush(FileHandle handle) { return ::fsync(static_cast<int>(handle)) == 0; }

unsigned LastErrorCode() { return static_cast<unsigned>(errno); }

}  // namespace zel::platform
