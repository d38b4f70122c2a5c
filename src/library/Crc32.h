#pragma once
// CRC-32 of the setup packages: polynomial 0x04C11DB7 fed most-significant bit first,
// initial value 0, no final XOR (the check value of "123456789" is 0x89A1897F).
// Not the zlib/PNG CRC: that one is bit-reflected and inverted.
#include <cstddef>
#include <cstdint>

namespace zel {

class TZELHashCRC32 {
public:
  // Continues the checksum over size more bytes; chunks may be split anywhere.
  void Update(const void* data, size_t size) noexcept;
  uint32_t Value() const noexcept { return FValue; }
  void Reset() noexcept { FValue = 0; }

  static uint32_t Compute(const void* data, size_t size) noexcept {
    TZELHashCRC32 crc;
    crc.Update(data, size);
    return crc.Value();
  }

private:
  uint32_t FValue = 0;
};

}  // namespace zel
