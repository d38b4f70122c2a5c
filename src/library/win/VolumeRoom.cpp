#include "library/win/VolumeRoom.h"

#include <windows.h>
#include <shlwapi.h>

#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/OSError.h"

namespace zel {

namespace {

// The nearest folder of path that exists (path itself when it does).
String ExistingFolderOf(StringView path) {
  String folder = ExcludeTrailingBackslash(String(path));
  while (!folder.empty() && !DirectoryExists(folder)) {
    const String parent = ExcludeTrailingBackslash(ExtractFilePath(folder));
    if (parent.size() >= folder.size()) break;
    folder = parent;
  }
  return IncludeTrailingBackslash(folder);
}

}  // namespace

TVolumeRoom RoomOn(StringView path) {
  const String folder = ExistingFolderOf(path);
  wchar_t root[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameW(as_wcstr(folder), root, MAX_PATH))
    RaiseLastOSError(u"GetVolumePathName \"" + folder + u"\"");
  TVolumeRoom room;
  room.Root = from_wcstr(root);
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(as_wcstr(folder), &available, nullptr, nullptr))
    RaiseLastOSError(u"GetDiskFreeSpaceEx \"" + folder + u"\"");
  room.Free = available.QuadPart;
  // "D:\" is "D:" to users; a share keeps its full name.
  room.Volume = room.Root.size() == 3 && room.Root[1] == u':' ? room.Root.substr(0, 2) : room.Root;
  return room;
}

String FormatBytes(uint64_t bytes) {
  wchar_t text[64] = {};
  if (!::StrFormatByteSizeW(static_cast<LONGLONG>(bytes), text, 64)) return IntToStr(static_cast<int64_t>(bytes));
  return from_wcstr(text);
}

}  // namespace zel
