#include "library/win/FileSystem.h"

#include <windows.h>

#include "library/win/Handles.h"
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

}  // namespace zel
