#pragma once
// Room on disk. A run adds up what it will write on each volume and compares that with the
// room there before it touches anything: a run that cannot finish is refused at once, in
// words that name the disk, the room needed and the room free, instead of failing half-way.
#include <cstdint>
#include <vector>

#include "core/InstallerErrors.h"
#include "library/Strings.h"

namespace kivo {

// A volume has too little room for the run; raised before anything is touched.
class EInstallerNotEnoughRoomError : public EInstallerInstallError {
public:
  using EInstallerInstallError::EInstallerInstallError;
};

struct TVolumeRoom {
  zel::String Volume;  // as users know it: "D:", or "\\server\share\" for a share
  zel::String Root;    // the volume's root path, the key for adding up
  uint64_t Free = 0;   // what this account may still write there (quotas included)
};

// The volume that holds path, which need not exist yet: its nearest existing folder is
// asked. Raises EOSError naming the path when the system cannot tell.
TVolumeRoom RoomOn(zel::StringView path);

// Bytes as the user's locale writes them ("1.5 GB", "312 KB").
zel::String FormatBytes(uint64_t bytes);

struct TRoomNeed {
  zel::String Path;   // a folder (or file) on the volume that the bytes go to
  uint64_t Bytes = 0;
  uint64_t Freed = 0;  // bytes the run frees there before it writes (old leftovers it removes)
};

// Adds up the needs per volume; raises EInstallerNotEnoughRoomError for the first volume
// whose room is short, with the text of "Common"/"E7" (drive, needed, free), or its
// English original when the language file has none.
void CheckRoom(const std::vector<TRoomNeed>& needs);

// The message for a volume that is short of room.
zel::String NotEnoughRoomText(const zel::String& volume, uint64_t needed, uint64_t free);

}  // namespace kivo
