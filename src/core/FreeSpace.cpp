#include "core/FreeSpace.h"

#include <map>

#include "core/Installer.h"
#include "package/InstallerErrors.h"
#include "core/RunLog.h"
#include "package/win/PayloadFile.h"
#include "platform/Platform.h"

namespace kivo {

using zel::String;

namespace {

constexpr char16_t kNotEnoughRoom[] =
    u"There is not enough room on the disk %s. The setup needs %s, but only %s is free. Free some room on it, or "
    u"choose another folder, and run the setup again.";

}  // namespace

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
    RunLog().Log(u"Room on " + volume.Room.Volume + u": " + FormatBytes(volume.Bytes) + u" needed, " +
                 FormatBytes(free) + u" free");
    if (volume.Bytes > free)
      throw EInstallerNotEnoughRoomError(NotEnoughRoomText(volume.Room.Volume, volume.Bytes, free));
  }
}

void TakeUpProductDecode(TInstallerResources& resources, zel::StringView who) {
  if (!resources.ProductPending()) return;
  const ULONGLONG waitStart = ::GetTickCount64();
  uint32_t decodeTime = 0;
  try {
    decodeTime = resources.FinishProduct();
  } catch (const EPayloadRoomError& e) {
    const String format = resources.GetText(u"Common", u"E10");
    if (format.empty()) throw;
    throw EInstallerNotEnoughRoomError(zel::Format(format, e.Volume, FormatBytes(e.Needed), FormatBytes(e.Free)));
  }
  RunLog().Log(u"Product package decoded in " + zel::IntToStr(static_cast<int64_t>(decodeTime)) + u" ms; " +
               String(who) + u" waited " + zel::IntToStr(static_cast<int64_t>(::GetTickCount64() - waitStart)) +
               u" ms for it");
}

}  // namespace kivo
