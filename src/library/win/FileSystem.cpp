#include "library/win/FileSystem.h"

#include <windows.h>

#include "library/win/Handles.h"
#include "library/win/OSError.h"
#include "platform/Platform.h"

namespace zel {

namespace {

DWORD AttributesOf(StringView path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(as_wcstr(platform::ExtendedLengthPath(path)));
}

}  // namespace

bool DirectoryExists(StringView path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(StringView path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

String LongPathName(StringView path) {
  const String name(path);
  String full(32768, u'\0');
  const DWORD n = ::GetLongPathNameW(as_wcstr(name), as_wcstr(full), static_cast<DWORD>(full.size()));
  if (n == 0 || n >= full.size()) return name;
  full.resize(n);
  return full;
}

String TempFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) RaiseOSError(n == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW, u"GetTempPath");
  return IncludeTrailingBackslash(from_wcstr(buffer, n));
}

String LongTempFolder() { return IncludeTrailingBackslash(LongPathName(TempFolder())); }

String ModuleFileName(void* module) {
  String path(MAX_PATH, u'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD n = ::GetModuleFileNameW(static_cast<HMODULE>(module), as_wcstr(path), size);
    if (n == 0) RaiseLastOSError(u"GetModuleFileName");
    if (n < size) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);  // cut short: a larger buffer
  }
}

}  // namespace zel
