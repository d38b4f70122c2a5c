#pragma once
// MD5 digests through the platform's cryptography service (BCrypt).
#include <array>
#include <cstdint>

#include "library/Streams.h"

namespace zel {

using TMD5Digest = std::array<uint8_t, 16>;

// The digest of the stream's bytes from its start to its end; the stream is left at its end.
TMD5Digest MD5OfStream(TStream& stream);

}  // namespace zel
