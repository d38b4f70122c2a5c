#include "core/RunLog.h"

#include <windows.h>

#include "library/CommandLine.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

namespace {

// "yyyy-mm-dd hh:mm:ss.mmm" and two spaces: continuation lines start under the text.
constexpr size_t TextColumn = 25;
// Names tried for the default log before giving up ("… (2).log" and on).
constexpr int kDefaultNameAttempts = 100;

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

String FullPath(StringView path) {
  const String name(path);
  String full(32768, u'\0');
  const DWORD n = ::GetFullPathNameW(as_wcstr(name), static_cast<DWORD>(full.size()), as_wcstr(full), nullptr);
  if (n == 0 || n >= full.size()) return name;
  full.resize(n);
  return full;
}

// The final path of an open file or folder (links followed), or empty.
String FinalPathOf(HANDLE handle) {
  String final(32768, u'\0');
  const DWORD n = ::GetFinalPathNameByHandleW(handle, as_wcstr(final), static_cast<DWORD>(final.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= final.size()) return {};
  final.resize(n);
  if (zel::StartsWith(final, u"\\\\?\\UNC\\")) return u"\\\\" + final.substr(8);
  if (zel::StartsWith(final, u"\\\\?\\")) return final.substr(4);
  return final;
}

}  // namespace

TRunLog::~TRunLog() { Close(); }

bool TRunLog::IsPlainFileAt(void* file, StringView path) {
  const HANDLE handle = static_cast<HANDLE>(file);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return false;
  // A link opened as itself, a folder, or a second name of some other file.
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (info.nNumberOfLinks != 1) return false;
  // The folder may be reached through a link; the file itself must be where its name
  // is in that folder (Wine opens a Unix symlink as its target, whatever the flags).
  const String full(path);
  const size_t cut = full.find_last_of(u'\\');
  if (cut == String::npos) return false;
  zel::TFileHandle folder(::CreateFileW(as_wcstr(full.substr(0, cut + 1)), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) return false;
  const String folderPath = FinalPathOf(folder.Get()), filePath = FinalPathOf(handle);
  if (folderPath.empty() || filePath.empty()) return false;
  return zel::SameText(filePath, zel::IncludeTrailingBackslash(folderPath) + full.substr(cut + 1));
}

bool TRunLog::Open(StringView path) noexcept { return OpenFile(path, false); }

bool TRunLog::OpenFile(StringView path, bool createNew) noexcept {
  try {
    const String full = FullPath(path);
    // Appending only: every write lands at the end, even when the relaunched copy of the
    // setup writes to the same file at the same time. The setup runs elevated: a link
    // planted under the name is opened as itself and refused, never followed.
    // Not OPEN_ALWAYS: Wine follows a Unix symlink whatever the flags and would create its
    // target. A new file is made only with CREATE_NEW, which never goes through a link.
    const auto create = [&full](DWORD disposition) {
      return ::CreateFileW(as_wcstr(full), FILE_APPEND_DATA | GENERIC_READ | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    zel::TFileHandle file(createNew ? create(CREATE_NEW) : create(OPEN_EXISTING));
    if (!createNew && !file && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      file.Reset(create(CREATE_NEW));
      // Made by another writer (the relaunched copy) in that moment.
      if (!file && ::GetLastError() == ERROR_FILE_EXISTS) file.Reset(create(OPEN_EXISTING));
    }
    const DWORD error = ::GetLastError();
    if (file && !IsPlainFileAt(file.Get(), full)) {
      file.Reset();
      FRefused = full;
    }
    std::lock_guard<std::mutex> lock(FLock);
    FFile.reset();
    FPath.clear();
    if (!file) {
      ::SetLastError(error);
      return false;
    }
    FFile.reset(file.Release());
    FPath = full;
    return true;
  } catch (...) {
    return false;
  }
}

void TRunLog::Close() noexcept {
  std::lock_guard<std::mutex> lock(FLock);
  FFile.reset();
  FPath.clear();
}

void TRunLog::TCloseFile::operator()(void* file) const noexcept { ::CloseHandle(file); }

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
    const bool locked = ::LockFileEx(FFile.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != FALSE;
    // Unbuffered on our side: once WriteFile returns, the entry survives a crash of the
    // setup. A failed write (full disk, removed medium) is dropped: logging never fails a run.
    ::WriteFile(FFile.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (locked) ::UnlockFileEx(FFile.get(), 0, MAXDWORD, MAXDWORD, &whole);
  } catch (...) {}
}

String TRunLog::OpenFromCommandLine(StringView params) noexcept {
  try {
    String value;
    if (!zel::FindSwitch(params, u"LOG", value)) return {};
    // A quote left in the value makes it a fragment of the path meant (the run then
    // stops with that error): no log at a path nobody asked for.
    if (value.find(u'"') != String::npos) return {};
    if (!value.empty()) return Open(value) ? Path() : String();
    // The temporary folder is the user's: a file or link waiting under the coming name
    // is never opened; the next free name is taken, created new by this process.
    const String name = DefaultPath();
    for (int attempt = 1; attempt <= kDefaultNameAttempts; ++attempt) {
      const String candidate =
          attempt == 1 ? name : zel::ChangeFileExt(name, u"") + u" (" + zel::IntToStr(attempt) + u").log";
      if (OpenFile(candidate, true)) return Path();
      if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
  } catch (...) {
    return {};
  }
}

String TRunLog::DefaultPath() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  return zel::TempFolder() + u"KIVO Setup " + zel::IntToStr(t.wYear) + u"-" + TwoDigits(t.wMonth) + u"-" +
         TwoDigits(t.wDay) + u" " + TwoDigits(t.wHour) + u"-" + TwoDigits(t.wMinute) + u"-" + TwoDigits(t.wSecond) +
         u".log";
}

TRunLog& RunLog() {
  static TRunLog log;
  return log;
}

}  // namespace kivo
