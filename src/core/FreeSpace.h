#pragma once
// Room on disk. A run adds up what it will write on each volume and compares that with the
// room there before it touches anything: a run that cannot finish is refused at once, in
// words that name the disk, the room needed and the room free, instead of failing half-way.
#include <cstdint>
#include <vector>

#include "package/InstallerErrors.h"
#include "library/Strings.h"
#include "library/win/VolumeRoom.h"

namespace kivo {

class TInstallerResources;

using zel::FormatBytes;
using zel::RoomOn;
using zel::TVolumeRoom;

// A volume has too little room for the run; raised before anything is touched.
class EInstallerNotEnoughRoomError : public EInstallerInstallError {
public:
  using EInstallerInstallError::EInstallerInstallError;
};

struct TRoomNeed {
  zel::String Path;  // a folder (or file) on the volume that the bytes go to
  uint64_t Bytes = 0;
  uint64_t Freed = 0;  // bytes the run frees there before it writes (old leftovers it removes)
};

// Adds up the needs per volume; raises EInstallerNotEnoughRoomError for the first volume
// whose room is short, with the text of "Common"/"E7" (drive, needed, free), or its
// English original when the language file has none.
void CheckRoom(const std::vector<TRoomNeed>& needs);

// The message for a volume that is short of room.
zel::String NotEnoughRoomText(const zel::String& volume, uint64_t needed, uint64_t free);

// Waits for the product package's decode and takes up its outcome (TInstallerResources::
// FinishProduct); a temporary folder without room for it is reported in the user's
// language. Logs how long the decode took and how long the caller (who) waited for it.
void TakeUpProductDecode(TInstallerResources& resources, zel::StringView who);

}  // namespace kivo
