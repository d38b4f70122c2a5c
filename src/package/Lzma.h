#pragma once
// LZMA1 coding bound to streams, over the LZMA SDK's C coder. The property header is the
// SDK's 5 bytes ((pb * 5 + lp) * 9 + lc, then the 32-bit dictionary size) without the
// 8-byte size field; the data carries no end marker, so a decoder must be told the size.
//
// Result codes (raised as EInvalidOperation "LZMA Error (%d)"):
//   0 success; 1 data error or input ended early (the decoder returns normally: the
//   caller checks the length it got); 2 out of memory; 4 unsupported properties;
//   5 parameter out of range; 9 the destination accepted fewer bytes than written.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "library/Streams.h"

namespace kivo {

// Transforms a buffer in place (the package code deciphers and enciphers with it).
using TPreprocessor = std::function<void(uint8_t* data, size_t size)>;

struct TLZMAStreams {
  // Applied to every block the coder emits, before it is written to DestStream.
  TPreprocessor DestPreprocessor;
  zel::TStream* DestStream = nullptr;
  // Applied to every block read from SourceStream (over the bytes actually read).
  TPreprocessor SourcePreprocessor;
  zel::TStream* SourceStream = nullptr;
};

// A decoded size of all ones: decode up to an end marker or the end of the input.
constexpr uint64_t kLzmaUnknownSize = UINT64_MAX;

enum TLzmaResult : int {
  LzmaOk = 0,
  LzmaDataError = 1,
  LzmaMemoryError = 2,
  LzmaUnsupported = 4,
  LzmaParamError = 5,
  LzmaWriteError = 9,
};

// Decodes decodedSize bytes (5 property bytes first) from the source to the destination,
// with 64 KiB input and output buffers. Returns the code: 0, or 1 when the input ended
// early or was rejected (whatever was decoded until then has been written); every other
// failure raises. Bytes after the decoded size are not looked at.
int LzmaDecompress(const TLZMAStreams& streams, uint64_t decodedSize);
int LzmaDecompress(zel::TStream& source, zel::TStream& dest, const TPreprocessor& sourcePreprocessor,
                   uint64_t decodedSize);

// The same, decoding straight into dest: the output vector is the coder's window, so
// there is neither a separate dictionary nor an output buffer to copy from. dest ends
// up holding exactly the bytes decoded (decodedSize of them unless the code is 1). It is
// allocated for the whole size up front unless that is absurd next to the input left in
// the source; then it grows as data actually arrives, so a lying size costs no memory.
// destObserver, when given, sees every decoded byte once, in order, in blocks of at most
// 256 KiB right after they were decoded (while they are still in the cache): the reader
// checksums the payload there instead of in a second pass over all of it.
using TDecodedObserver = std::function<void(const uint8_t* data, size_t size)>;
int LzmaDecompressToMemory(zel::TStream& source, const TPreprocessor& sourcePreprocessor, uint64_t decodedSize,
                           std::vector<uint8_t>& dest, const TDecodedObserver& destObserver = nullptr);

// The same for a payload too large to keep in memory: decodedSize bytes go to sink in
// order, in blocks of at most 256 KiB, and nothing of them stays here but the coder's
// window (the header's dictionary, no larger than the payload, and grown only as data
// arrives when the size is absurd next to the input). A sink that raises ends the decode
// with its exception. Returns 0, or 1 when the input ended early or was rejected.
int LzmaDecompressToSink(zel::TStream& source, const TPreprocessor& sourcePreprocessor, uint64_t decodedSize,
                         const TDecodedObserver& sink);

// Encodes from the source's position to its end at a level 0..9 (the LZMA SDK's level
// rules; a negative level counts as 5, levels above 9 act as 9). Writes the property
// header first. Any failure raises; a stream error of the source or destination
// propagates as it was raised.
void LzmaCompress(const TLZMAStreams& streams, int level);
void LzmaCompress(zel::TStream& source, zel::TStream& dest, int level, const TPreprocessor& destPreprocessor);

}  // namespace kivo
