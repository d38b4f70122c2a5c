#pragma once
// RC4 as published: key scheduling over 256 steps with the key repeated, no keystream
// bytes dropped. The setup packages are enciphered with it; it is not used for secrecy.
#include <cstddef>
#include <cstdint>

namespace zel {

class TRC4 {
public:
  // Resets the indices and runs the key scheduling. An empty key acts as one zero byte.
  void Init(const void* key, size_t keySize) noexcept;
  // XORs size bytes of src with the keystream into dst; src may equal dst. The keystream
  // carries over, so a buffer may be enciphered in chunks of any size.
  void Crypt(const void* src, void* dst, size_t size) noexcept;

private:
  uint8_t FS[256] = {};
  uint32_t FI = 0;
  uint32_t FJ = 0;
};

}  // namespace zel
