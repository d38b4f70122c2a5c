#include "library/Crc32.h"

#include <array>

namespace zel {

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7;
constexpr int kSlices = 8;

// Slicing-by-8: Tables[k][b] is the CRC contribution of byte b followed by k zero
// bytes, so eight input bytes cost eight table look-ups and no per-bit work. The
// product package is checked in full at every start, so this loop matters.
using TCrcTables = std::array<std::array<uint32_t, 256>, kSlices>;

constexpr TCrcTables MakeTables() {
  TCrcTables t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t c = b << 24;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x80000000u) ? (c << 1) ^ kPolynomial : c << 1;
    t[0][b] = c;
  }
  for (int k = 1; k < kSlices; ++k)
    for (uint32_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] << 8) ^ t[0][t[k - 1][b] >> 24];
  return t;
}

constexpr TCrcTables kTables = MakeTables();
static_assert(kTables[0][1] == kPolynomial);

inline uint32_t LoadBigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

void TZELHashCRC32::Update(const void* data, size_t size) noexcept {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t crc = FValue;
  const auto& t = kTables;
  while (size >= 8) {
    const uint32_t hi = crc ^ LoadBigEndian32(p);
    crc = t[7][hi >> 24] ^ t[6][(hi >> 16) & 0xFF] ^ t[5][(hi >> 8) & 0xFF] ^ t[4][hi & 0xFF] ^ t[3][p[4]] ^
          t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    p += 8;
    size -= 8;
  }
  while (size-- > 0) crc = (crc << 8) ^ t[0][(crc >> 24) ^ *p++];
  FValue = crc;
}

}  // namespace zel
