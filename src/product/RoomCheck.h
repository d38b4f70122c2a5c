#pragma once
// The room an install run needs, checked before it touches anything (the running player
// included): on the destination's volume the product's files, the backup of what is there
// (its uncompressed size, a bound of the archive), and the uninstaller with its data.
// Unfinished backups of earlier runs are removed first: they are what may have filled it.
#include <vector>

#include "core/FreeSpace.h"

namespace kivo {

// What the run will write, by volume (see CheckRoom).
std::vector<TRoomNeed> RoomNeededForInstall();

// Removes stale partial backups, then raises EInstallerNotEnoughRoomError when a volume is
// short of room. Nothing when the run has no destination yet.
void CheckRoomForInstall();

}  // namespace kivo
