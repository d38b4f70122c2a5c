#include "library/Rc4.h"

namespace zel {

void TRC4::Init(const void* key, size_t keySize) noexcept {
  static const uint8_t kZero = 0;
  const auto* k = keySize > 0 ? static_cast<const uint8_t*>(key) : &kZero;
  if (keySize == 0) keySize = 1;
  for (int n = 0; n < 256; ++n) FS[n] = static_cast<uint8_t>(n);
  uint8_t j = 0;
  size_t keyIndex = 0;
  for (int n = 0; n < 256; ++n) {
    j = static_cast<uint8_t>(j + FS[n] + k[keyIndex]);
    if (++keyIndex == keySize) keyIndex = 0;
    const uint8_t t = FS[n];
    FS[n] = FS[j];
    FS[j] = t;
  }
  FI = 0;
  FJ = 0;
}

void TRC4::Crypt(const void* src, void* dst, size_t size) noexcept {
  const auto* in = static_cast<const uint8_t*>(src);
  auto* out = static_cast<uint8_t*>(dst);
  // Indices in locals so the compiler keeps them in registers across the loop.
  uint8_t i = static_cast<uint8_t>(FI);
  uint8_t j = static_cast<uint8_t>(FJ);
  uint8_t* s = FS;
  for (size_t n = 0; n < size; ++n) {
    i = static_cast<uint8_t>(i + 1);
    const uint8_t si = s[i];
    j = static_cast<uint8_t>(j + si);
    const uint8_t sj = s[j];
    s[i] = sj;
    s[j] = si;
    out[n] = in[n] ^ s[static_cast<uint8_t>(si + sj)];
  }
  FI = i;
  FJ = j;
}

}  // namespace zel
