#pragma once
// The room left on a volume, as the system reports it to this account.
#include <cstdint>

#include "library/Strings.h"

namespace zel {

struct TVolumeRoom {
  String Volume;      // as users know it: "D:", or "\\server\share\" for a share
  String Root;        // the volume's root path, the key for adding up
  uint64_t Free = 0;  // what this account may still write there (quotas included)
};

// The volume that holds path, which need not exist yet: its nearest existing folder is
// asked. Raises EOSError naming the path when the system cannot tell.
TVolumeRoom RoomOn(StringView path);

// Bytes as the user's locale writes them ("1.5 GB", "312 KB").
String FormatBytes(uint64_t bytes);

}  // namespace zel
