#include "core/RunLog.h"

#include <windows.h>

#include "library/CommandLine.h"
#include "library/win/Handles.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

namespace {

// "yyyy-mm-dd hh:mm:ss.mmm" and two spaces: continuation lines start under the text.
constexpr size_t TextColumn = 25;

String TwoDigits(int value) { return value < 10 ? u"0" + zel::IntToStr(value) : zel::IntToStr(value); }
String ThreeDigits(int value) {
  String text = zel::IntToStr(value);
  while (text.size() < 3) text.insert(text.begin(), u'0');
  return text;
}

String Timestamp(const SYSTEMTIME& t) {
  return zel::IntToStr(t.wYear) + u"-" + TwoDigits(t.wMonth) + u"-" + TwoDigits(t.wDay) + u" " + TwoDigits(t.wHour) +
         u":" + TwoDigits(t.wMinute) + u":" + TwoDigits(t.wSecond) + u"." + ThreeDigits(t.wMilliseconds);
}

// The entry with CR LF line ends; a trailing line break (error lists end in one) adds no
// empty line.
String FormatEntry(StringView timestamp, StringView text) {
  String entry(timestamp);
  entry += u"  ";
  const String indent(TextColumn, u' ');
  size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    size_t end = text.find_first_of(u"\r\n", start);
    if (end == StringView::npos) end = text.size();
    if (!first) {
      if (start == text.size()) break;  // nothing after the last line break
      entry += u"\r\n";
      entry += indent;
    }
    entry.append(text.substr(start, end - start));
    first = false;
    if (end == text.size()) break;
    start = end + ((text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n') ? 2 : 1);
  }
  entry += u"\r\n";
  return entry;
}

String TempFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) return {};
  return zel::IncludeTrailingBackslash(zel::from_wcstr(buffer, n));
}

String FullPath(StringView path) {
  const String name(path);
  String full(32768, u'\0');
  const DWORD n = ::GetFullPathNameW(as_wcstr(name), static_cast<DWORD>(full.size()), as_wcstr(full), nullptr);
  if (n == 0 || n >= full.size()) return name;
  full.resize(n);
  return full;
}

}  // namespace

TRunLog::~TRunLog() { Close(); }

bool TRunLog::Open(StringView path) noexcept {
  try {
    const String full = FullPath(path);
    // Appending only: every write lands at the end, even when the relaunched copy of the
    // setup writes to the same file at the same time.
    HANDLE file = ::CreateFileW(as_wcstr(full), FILE_APPEND_DATA | GENERIC_READ | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    std::lock_guard<std::mutex> lock(FLock);
    if (FFile) ::CloseHandle(FFile);
    FFile = nullptr;
    FPath.clear();
    if (file == INVALID_HANDLE_VALUE) return false;
    FFile = file;
    FPath = full;
    return true;
  } catch (...) {
    return false;
  }
}

void TRunLog::Close() noexcept {
  std::lock_guard<std::mutex> lock(FLock);
  if (FFile) ::CloseHandle(FFile);
  FFile = nullptr;
  FPath.clear();
}

bool TRunLog::IsOpen() const noexcept {
  std::lock_guard<std::mutex> lock(FLock);
  return FFile != nullptr;
}

String TRunLog::Path() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FPath;
}

void TRunLog::Log(StringView text) noexcept {
  try {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    const std::string bytes = zel::ToUtf8(FormatEntry(Timestamp(now), text));
    std::lock_guard<std::mutex> lock(FLock);
    if (!FFile) return;
    DWORD written = 0;
    // Another process (the elevation relay) may append to the same file. Appending is
    // atomic on Windows but not under Wine, which seeks and writes: a lock over the
    // whole file keeps the entries whole everywhere.
    OVERLAPPED whole{};
    const bool locked = ::LockFileEx(FFile, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != FALSE;
    // Unbuffered on our side: once WriteFile returns, the entry survives a crash of the
    // setup. A failed write (full disk, removed medium) is dropped: logging never fails a run.
    ::WriteFile(FFile, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (locked) ::UnlockFileEx(FFile, 0, MAXDWORD, MAXDWORD, &whole);
  } catch (...) {
  }
}

String TRunLog::OpenFromCommandLine(StringView params) noexcept {
  try {
    String value;
    if (!zel::FindSwitch(params, u"LOG", value)) return {};
    // A quote left in the value makes it a fragment of the path meant (the run then
    // stops with that error): no log at a path nobody asked for.
    if (value.find(u'"') != String::npos) return {};
    const String path = value.empty() ? DefaultPath() : value;
    if (!Open(path)) return {};
    return Path();
  } catch (...) {
    return {};
  }
}

String TRunLog::DefaultPath() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  return TempFolder() + u"KIVO Setup " + zel::IntToStr(t.wYear) + u"-" + TwoDigits(t.wMonth) + u"-" +
         TwoDigits(t.wDay) + u" " + TwoDigits(t.wHour) + u"-" + TwoDigits(t.wMinute) + u"-" + TwoDigits(t.wSecond) +
         u".log";
}

TRunLog& RunLog() {
  static TRunLog log;
  return log;
}

}  // namespace kivo
