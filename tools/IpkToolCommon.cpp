#include "IpkToolCommon.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "library/Streams.h"
#include "package/SetupPackage.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;
using namespace zel;

namespace ipktool {

void PrintError(const std::string& message) { std::fprintf(stderr, "ipktool: %s\n", message.c_str()); }

std::string Quoted(StringView text) { return "\"" + ToUtf8(text) + "\""; }

fs::path ToPath(StringView text) {
#ifdef _WIN32
  return fs::path(std::wstring(text.begin(), text.end()));
#else
  return fs::path(ToUtf8(text));
#endif
}

fs::path FolderPath(StringView text) {
#ifdef _WIN32
  // The tree below may pass 260 characters: it is walked from the \\?\ form of its root,
  // which the file system takes unparsed, so the root is made absolute and canonical first.
  if (StartsWith(text, u"\\\\?\\") || StartsWith(text, u"\\\\.\\")) return ToPath(text);
  std::error_code ec;
  const fs::path full = fs::absolute(ToPath(text), ec);
  if (ec) return ToPath(text);
  std::wstring w = full.lexically_normal().wstring();
  std::replace(w.begin(), w.end(), L'/', L'\\');
  if (w.rfind(L"\\\\?\\", 0) == 0 || w.rfind(L"\\\\.\\", 0) == 0) return fs::path(w);
  if (w.rfind(L"\\\\", 0) == 0) return fs::path(L"\\\\?\\UNC\\" + w.substr(2));
  return fs::path(L"\\\\?\\" + w);
#else
  return ToPath(text);
#endif
}

String FromPath(const fs::path& path) {
#ifdef _WIN32
  const std::wstring w = path.wstring();
  return String(w.begin(), w.end());
#else
  return FromUtf8(path.string());
#endif
}

String MemberName(const fs::path& relative) {
  String name;
  for (const fs::path& part : relative) {
    if (!name.empty()) name += u'\\';
    name += FromPath(part);
  }
  return name;
}

namespace {

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

// Whether a component names a device on Windows: CON, PRN, AUX, NUL, COM0-9, LPT0-9 (and
// COM/LPT with a superscript 1, 2 or 3), CONIN$ and CONOUT$, in any case, with any
// extension, and with spaces before the extension ("nul .txt" is NUL too).
bool IsDeviceName(StringView part) {
  StringView base = part.substr(0, part.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  String upper;
  for (char16_t c : base) upper += AsciiUpper(c);
  if (upper == u"CON" || upper == u"PRN" || upper == u"AUX" || upper == u"NUL" || upper == u"CONIN$" ||
      upper == u"CONOUT$")
    return true;
  if (upper.size() != 4 || (upper.compare(0, 3, u"COM") != 0 && upper.compare(0, 3, u"LPT") != 0)) return false;
  const char16_t n = upper[3];
  return (n >= u'0' && n <= u'9') || n == u'\u00B9' || n == u'\u00B2' || n == u'\u00B3';
}

// Whether a component has the form of a generated short name ("PROGRA~1", "README~2.TXT"):
// Windows may resolve it to another file's long name.
bool IsShortNameForm(StringView part) {
  const StringView base = part.substr(0, part.find(u'.'));
  const size_t tilde = base.rfind(u'~');
  // Short names have at most 8 characters before the extension.
  if (base.size() > 8 || tilde == StringView::npos || tilde == 0 || tilde + 1 == base.size()) return false;
  return base.find_first_not_of(u"0123456789", tilde + 1) == StringView::npos;
}

}  // namespace

// Names that would land outside the destination folder, or that Windows would not store
// under the name given: empty, absolute ("\x", "/x"), UNC ("\\host"), drive ("C:x") or
// stream (":") forms, control characters and the characters Windows refuses or takes
// as wildcards, components that are empty or only dots and spaces (Windows strips
// trailing dots and spaces, so "... " means ".."), components ending in a dot or a space
// ("a." is "a"), device names ("nul.txt" is NUL) and short-name forms ("FILE~1.TXT").
// Packages are Windows packages: the same names are refused on every platform.
bool IsSafeMemberName(StringView name, std::string& reason) {
  if (name.empty()) return reason = "empty name", false;
  if (name[0] == u'\\' || name[0] == u'/') return reason = "absolute path", false;
  for (char16_t c : name) {
    if (c == u':') return reason = "drive or stream name", false;
    if (c < 32 || c == 127) return reason = "control character", false;
    if (c == u'*' || c == u'?' || c == u'<' || c == u'>' || c == u'"' || c == u'|')
      return reason = std::string("character '") + static_cast<char>(c) + "' that Windows does not allow", false;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of(u"\\/", start);
    if (end == StringView::npos) end = name.size();
    const StringView part = name.substr(start, end - start);
    if (part.empty()) return reason = "empty path component", false;
    if (part.find_first_not_of(u". ") == StringView::npos) return reason = "\"..\" or dot component", false;
    if (part.back() == u'.' || part.back() == u' ')
      return reason = "component " + Quoted(part) + " ends in a dot or a space, which Windows drops", false;
    if (IsDeviceName(part)) return reason = "component " + Quoted(part) + " is a Windows device name", false;
    if (IsShortNameForm(part))
      return reason = "component " + Quoted(part) + " has the form of a Windows short name", false;
    start = end + 1;
  }
  return true;
}

fs::path MemberPath(const fs::path& root, StringView name) {
  fs::path path = root;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of(u"\\/", start);
    if (end == StringView::npos) end = name.size();
    path /= ToPath(name.substr(start, end - start));
    start = end + 1;
  }
  return path;
}

std::vector<uint8_t> ReadFileBytes(StringView path) {
  TFileStream stream(path, FileMode::OpenRead);
  std::vector<uint8_t> bytes(static_cast<size_t>(stream.Size()));
  stream.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

void ReportEmptyFolder(const String& name) {
  std::fprintf(stderr, "ipktool: the empty folder %s is left out (a package holds files only)\n", Quoted(name).c_str());
}

std::vector<String> FolderMembers(const fs::path& root, const fs::path& exclude) {
  std::vector<String> names;
#ifdef _WIN32
  WalkFolderLong(root, exclude, names);
#else
  std::error_code ec;
  const fs::path excluded = exclude.empty() ? fs::path() : fs::weakly_canonical(exclude, ec);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    // A package holds files only: an empty folder is not installed, which the vendor is told.
    if (entry.is_directory() && fs::is_empty(entry.path()))
      ReportEmptyFolder(MemberName(entry.path().lexically_relative(root)));
    if (!entry.is_regular_file()) continue;
    if (!excluded.empty() && fs::weakly_canonical(entry.path(), ec) == excluded) continue;
    names.push_back(MemberName(entry.path().lexically_relative(root)));
  }
#endif
  std::sort(names.begin(), names.end());
  for (const String& name : names) {
    std::string reason;
    if (!IsSafeMemberName(name, reason))
      throw TToolError{ExitRefused, "refusing to pack " + Quoted(name) + ": " + reason};
  }
  return names;
}

void BuildPackage(const fs::path& root, const std::vector<String>& names, int level, TStream& dest) {
  kivo::TSetupPackageBuilder builder(kivo::kSetupPackageKey);
  for (const String& name : names) {
    TFileStream source(FromPath(MemberPath(root, name)), FileMode::OpenRead);
    builder.AddFile(source, name);
  }
  builder.Commit(dest, level);
}

}  // namespace ipktool
