#include "library/win/Md5.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

namespace zel {

namespace {

struct TAlgorithm {
  BCRYPT_ALG_HANDLE Handle = nullptr;
  ~TAlgorithm() {
    if (Handle) ::BCryptCloseAlgorithmProvider(Handle, 0);
  }
};

struct THash {
  BCRYPT_HASH_HANDLE Handle = nullptr;
  ~THash() {
    if (Handle) ::BCryptDestroyHash(Handle);
  }
};

void Check(NTSTATUS status, const char16_t* call) {
  if (status < 0) throw EOSError(static_cast<unsigned>(status), call);
}

}  // namespace

TMD5Digest MD5OfStream(TStream& stream) {
  TAlgorithm algorithm;
  Check(::BCryptOpenAlgorithmProvider(&algorithm.Handle, BCRYPT_MD5_ALGORITHM, nullptr, 0),
        u"BCryptOpenAlgorithmProvider");
  THash hash;
  Check(::BCryptCreateHash(algorithm.Handle, &hash.Handle, nullptr, 0, nullptr, 0, 0), u"BCryptCreateHash");
  stream.SetPosition(0);
  std::vector<uint8_t> buffer(1024 * 1024);
  for (;;) {
    const size_t n = stream.Read(buffer.data(), buffer.size());
    if (n == 0) break;
    Check(::BCryptHashData(hash.Handle, buffer.data(), static_cast<ULONG>(n), 0), u"BCryptHashData");
  }
  TMD5Digest digest{};
  Check(::BCryptFinishHash(hash.Handle, digest.data(), static_cast<ULONG>(digest.size()), 0), u"BCryptFinishHash");
  return digest;
}

}  // namespace zel
