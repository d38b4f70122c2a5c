#include "core/FreeSpace.h"

#include <windows.h>
#include <shlwapi.h>

#include <map>

#include "core/Installer.h"
#include "core/InstallerErrors.h"
#include "core/RunLog.h"
#include "library/win/FileSystem.h"
#include "library/win/OSError.h"
#include "platform/Platform.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

namespace {

constexpr char16_t kNotEnoughRoom[] =
    u"There is not enough room on the disk %s. The setup needs %s, but only %s is free. Free some room on it, or "
    u"choose another folder, and run the setup again.";

// The nearest folder of path that exists (path itself when it does).
String ExistingFolderOf(StringView path) {
  String folder = zel::ExcludeTrailingBackslash(String(path));
  while (!folder.empty() && !zel::DirectoryExists(folder)) {
    const String parent = zel::ExcludeTrailingBackslash(zel::ExtractFilePath(folder));
    if (parent.size() >= folder.size()) break;
    folder = parent;
  }
  return zel::IncludeTrailingBackslash(folder);
}

}  // namespace

TVolumeRoom RoomOn(StringView path) {
  const String folder = ExistingFolderOf(path);
  wchar_t root[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameW(as_wcstr(folder), root, MAX_PATH)) zel::RaiseLastOSError(u"GetVolumePathName \"" + folder + u"\"");
  TVolumeRoom room;
  room.Root = zel::from_wcstr(root);
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(as_wcstr(folder), &available, nullptr, nullptr))
    zel::RaiseLastOSError(u"GetDiskFreeSpaceEx \"" + folder + u"\"");
  room.Free = available.QuadPart;
  // "D:\" is "D:" to users; a share keeps its full name.
  room.Volume = room.Root.size() == 3 && room.Root[1] == u':' ? room.Root.substr(0, 2) : room.Root;
  return room;
}

String FormatBytes(uint64_t bytes) {
  wchar_t text[64] = {};
  if (!::StrFormatByteSizeW(static_cast<LONGLONG>(bytes), text, 64)) return zel::IntToStr(static_cast<int64_t>(bytes));
  return zel::from_wcstr(text);
}

String NotEnoughRoomText(const String& volume, uint64_t needed, uint64_t free) {
  String format = Installer ? Installer->Resources().GetText(u"Common", u"E7") : String();
  if (format.empty()) format = kNotEnoughRoom;
  return zel::Format(format, volume, FormatBytes(needed), FormatBytes(free));
}

void CheckRoom(const std::vector<TRoomNeed>& needs) {
  struct TVolumeNeed {
    TVolumeRoom Room;
    uint64_t Bytes = 0;
    uint64_t Freed = 0;
  };
  std::map<String, TVolumeNeed> volumes;  // in the order of their roots, by case-insensitive root
  std::vector<String> order;
  for (const TRoomNeed& need : needs) {
    const TVolumeRoom room = RoomOn(need.Path);
    const String key = zel::platform::CaseInsensitiveKey(room.Root);
    auto [at, added] = volumes.try_emplace(key);
    if (added) {
      at->second.Room = room;
      order.push_back(key);
    }
    at->second.Bytes += need.Bytes;
    at->second.Freed += need.Freed;
  }
  for (const String& key : order) {
    const TVolumeNeed& volume = volumes[key];
    const uint64_t free = volume.Room.Free + volume.Freed;
    RunLog().Log(u"Room on " + volume.Room.Volume + u": " + FormatBytes(volume.Bytes) + u" needed, " + FormatBytes(free) +
                 u" free");
    if (volume.Bytes > free) throw EInstallerNotEnoughRoomError(NotEnoughRoomText(volume.Room.Volume, volume.Bytes, free));
  }
}

}  // namespace kivo
