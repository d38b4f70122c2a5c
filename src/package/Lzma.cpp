#include "package/Lzma.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "library/Exceptions.h"
#include "library/Strings.h"

extern "C" {
#include <LzmaDec.h>
#include <LzmaEnc.h>
}

namespace kivo {

using zel::TStream;

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr size_t kObservedStep = 256 * 1024;

// A payload this many times larger than the compressed input left is believed only
// once the data is there: real packages stay far below it, a forged size never gets it.
constexpr uint64_t kTrustedExpansion = 32;
constexpr uint64_t kTrustedMinimum = 1024 * 1024;

void* SzAlloc(void*, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void SzFree(void*, void* address) { std::free(address); }
ISzAlloc gAlloc = {SzAlloc, SzFree};

[[noreturn]] void RaiseLzmaError(int code) { throw zel::EInvalidOperation(zel::Format(u"LZMA Error (%d)", code)); }

// One source read of up to size bytes, deciphered in place before the coder sees it.
size_t ReadSource(TStream& source, const TPreprocessor& preprocessor, uint8_t* buffer, size_t size) {
  const size_t n = source.Read(buffer, size);
  if (n > 0 && preprocessor) preprocessor(buffer, n);
  return n;
}

// The property bytes may arrive in pieces from a slow stream; fewer than 5 at the end
// of the input is a body cut short (code 1), not a stream error.
bool ReadProperties(TStream& source, const TPreprocessor& preprocessor, uint8_t (&props)[LZMA_PROPS_SIZE]) {
  size_t got = 0;
  while (got < LZMA_PROPS_SIZE) {
    const size_t n = ReadSource(source, preprocessor, props + got, LZMA_PROPS_SIZE - got);
    if (n == 0) return false;
    got += n;
  }
  return true;
}

struct TDecoderProbs {
  CLzmaDec Dec;
  TDecoderProbs() { LzmaDec_Construct(&Dec); }
  ~TDecoderProbs() { LzmaDec_FreeProbs(&Dec, &gAlloc); }
};

struct TDecoderFull {
  CLzmaDec Dec;
  TDecoderFull() { LzmaDec_Construct(&Dec); }
  ~TDecoderFull() { LzmaDec_Free(&Dec, &gAlloc); }
};

// The C coder cannot carry C++ exceptions: the callbacks park them here and report a
// failure, and the exception is raised again once the coder has returned.
struct TInStream {
  ISeqInStream Vt;
  TStream* Stream;
  std::exception_ptr Error;
};

struct TOutStream {
  ISeqOutStream Vt;
  TStream* Stream;
  const TPreprocessor* Preprocessor;
  std::vector<uint8_t> Scratch;
  std::exception_ptr Error;
};

SRes InRead(void* p, void* buf, size_t* size) {
  auto* self = static_cast<TInStream*>(p);
  try {
    *size = self->Stream->Read(buf, *size);
    return SZ_OK;
  } catch (...) {
    self->Error = std::current_exception();
    *size = 0;
    return SZ_ERROR_READ;
  }
}

size_t OutWrite(void* p, const void* buf, size_t size) {
  auto* self = static_cast<TOutStream*>(p);
  try {
    if (!*self->Preprocessor) return self->Stream->Write(buf, size);
    // The coder's buffer is const to us: encipher a copy.
    self->Scratch.assign(static_cast<const uint8_t*>(buf), static_cast<const uint8_t*>(buf) + size);
    (*self->Preprocessor)(self->Scratch.data(), size);
    return self->Stream->Write(self->Scratch.data(), size);
  } catch (...) {
    self->Error = std::current_exception();
    return 0;
  }
}

// The LZMA SDK's rules for a level, every field set here so that the coder's own
// defaults never decide anything.
CLzmaEncProps PropsForLevel(int level) {
  CLzmaEncProps p;
  LzmaEncProps_Init(&p);
  if (level < 0) level = 5;
  p.level = level;
  p.dictSize = level <= 5 ? (1u << (level * 2 + 14)) : level == 6 ? (1u << 25) : (1u << 26);
  p.reduceSize = 0xFFFFFFFF;  // never shrink the dictionary to the input
  p.lc = 3;
  p.lp = 0;
  p.pb = 2;
  p.algo = level >= 5 ? 1 : 0;
  p.fb = level >= 7 ? 64 : 32;
  p.btMode = p.algo;  // binary tree when optimising, hash chain when fast
  p.numHashBytes = 4;
  p.mc = (16 + (p.fb >> 1)) >> (p.btMode ? 0 : 1);
  p.writeEndMark = 0;
  p.numThreads = 1;
  return p;
}

}  // namespace

int LzmaDecompress(const TLZMAStreams& streams, uint64_t decodedSize) {
  TStream& source = *streams.SourceStream;
  TStream& dest = *streams.DestStream;
  uint8_t props[LZMA_PROPS_SIZE];
  if (!ReadProperties(source, streams.SourcePreprocessor, props)) return LzmaDataError;

  TDecoderFull decoder;
  CLzmaDec* dec = &decoder.Dec;
  if (const SRes res = LzmaDec_Allocate(dec, props, LZMA_PROPS_SIZE, &gAlloc); res != SZ_OK) RaiseLzmaError(res);
  LzmaDec_Init(dec);

  std::vector<uint8_t> inBuf(kBufferSize), outBuf(kBufferSize);
  size_t inPos = 0, inLen = 0;
  uint64_t left = decodedSize;
  const bool openEnded = decodedSize == kLzmaUnknownSize;
  while (openEnded || left > 0) {
    if (inPos == inLen) {
      inLen = ReadSource(source, streams.SourcePreprocessor, inBuf.data(), kBufferSize);
      inPos = 0;
    }
    size_t outLen = kBufferSize;
    ELzmaFinishMode finish = LZMA_FINISH_ANY;
    if (!openEnded && left <= kBufferSize) {
      outLen = static_cast<size_t>(left);
      finish = LZMA_FINISH_END;
    }
    size_t srcLen = inLen - inPos;
    ELzmaStatus status;
    const SRes res = LzmaDec_DecodeToBuf(dec, outBuf.data(), &outLen, inBuf.data() + inPos, &srcLen, finish, &status);
    inPos += srcLen;
    if (outLen > 0) {
      if (streams.DestPreprocessor) streams.DestPreprocessor(outBuf.data(), outLen);
      if (dest.Write(outBuf.data(), outLen) != outLen) RaiseLzmaError(LzmaWriteError);
      left -= outLen;
    }
    // Once the size is reached the stream is complete, whatever the coder thinks of
    // the bytes after it (a trailing end marker, or padding).
    if (!openEnded && left == 0) return LzmaOk;
    if (res != SZ_OK) return LzmaDataError;
    if (status == LZMA_STATUS_FINISHED_WITH_MARK) return openEnded ? LzmaOk : LzmaDataError;
    if (srcLen == 0 && outLen == 0) {
      if (openEnded && status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK) return LzmaOk;
      return LzmaDataError;
    }
  }
  return LzmaOk;
}

int LzmaDecompress(TStream& source, TStream& dest, const TPreprocessor& sourcePreprocessor, uint64_t decodedSize) {
  TLZMAStreams streams;
  streams.SourceStream = &source;
  streams.SourcePreprocessor = sourcePreprocessor;
  streams.DestStream = &dest;
  return LzmaDecompress(streams, decodedSize);
}

namespace {

// Reads and deciphers the coded input on a second thread, a few blocks ahead of the
// decoder, so that the file reads and the cipher do not hold up the coder: decoding is
// the one part of opening a package that cannot be split.
class TReadAhead {
public:
  TReadAhead(TStream& source, const TPreprocessor& preprocessor)
      : FSource(source), FPreprocessor(preprocessor), FThread([this] { Run(); }) {}
  ~TReadAhead() {
    {
      std::lock_guard<std::mutex> lock(FLock);
      FStop = true;
    }
    FChanged.notify_all();
    FThread.join();
  }
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // The next deciphered block, valid until the next call; empty at the end of the
  // source. A read error of the source is raised here, in the caller's thread.
  const uint8_t* Next(size_t& size) {
    std::unique_lock<std::mutex> lock(FLock);
    if (FHanded > FReleased) ++FReleased;  // the caller is done with the previous block
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return FFilled > FHanded || FEnd; });
    if (FFilled == FHanded) {
      if (FError) std::rethrow_exception(FError);
      size = 0;
      return nullptr;
    }
    const TSlot& slot = FSlots[FHanded++ % kSlots];
    size = slot.Size;
    return slot.Data.data();
  }

private:
  static constexpr size_t kSlots = 4;
  struct TSlot {
    std::vector<uint8_t> Data = std::vector<uint8_t>(kBufferSize);
    size_t Size = 0;
  };

  void Run() noexcept {
    try {
      for (;;) {
        size_t index;
        {
          std::unique_lock<std::mutex> lock(FLock);
          FChanged.wait(lock, [this] { return FStop || FFilled - FReleased < kSlots; });
          if (FStop) return;
          index = FFilled % kSlots;
        }
        TSlot& slot = FSlots[index];
        slot.Size = ReadSource(FSource, FPreprocessor, slot.Data.data(), kBufferSize);
        std::lock_guard<std::mutex> lock(FLock);
        if (slot.Size == 0) {
          FEnd = true;
          FChanged.notify_all();
          return;
        }
        ++FFilled;
        FChanged.notify_all();
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(FLock);
      FError = std::current_exception();
      FEnd = true;
      FChanged.notify_all();
    }
  }

  TStream& FSource;
  const TPreprocessor& FPreprocessor;
  TSlot FSlots[kSlots];
  std::mutex FLock;
  std::condition_variable FChanged;
  size_t FFilled = 0;    // blocks read
  size_t FHanded = 0;    // blocks given to the decoder
  size_t FReleased = 0;  // blocks the decoder is done with
  bool FEnd = false;
  bool FStop = false;
  std::exception_ptr FError;
  std::thread FThread;  // last: starts once every other field is ready
};

// Below this much coded input a second thread costs more than it saves.
constexpr int64_t kReadAheadMinimum = 1024 * 1024;

}  // namespace

namespace {

// The coded input of one decode: read ahead on a second thread when there is enough of
// it, else read here.
class TCodedInput {
public:
  TCodedInput(TStream& source, const TPreprocessor& preprocessor, uint64_t decodedSize)
      : FSource(source), FPreprocessor(preprocessor) {
    try {
      FRemaining = source.Size() - source.Position();
      if (FRemaining > 0) FTrusted = std::max<uint64_t>(FTrusted, uint64_t(FRemaining) * kTrustedExpansion);
    } catch (const zel::Exception&) {
      // A stream that cannot tell its size gets the minimum and grows like any other.
    }
    if (FRemaining >= kReadAheadMinimum && decodedSize >= uint64_t(kReadAheadMinimum))
      FReadAhead = std::make_unique<TReadAhead>(source, preprocessor);
    else FOwn.resize(kBufferSize);
  }
  // How much decoded data the input left can honestly promise.
  uint64_t Trusted() const { return FTrusted; }
  // The next block; size 0 at the end of the input.
  const uint8_t* Next(size_t& size) {
    if (FReadAhead) return FReadAhead->Next(size);
    size = ReadSource(FSource, FPreprocessor, FOwn.data(), kBufferSize);
    return FOwn.data();
  }

private:
  TStream& FSource;
  const TPreprocessor& FPreprocessor;
  int64_t FRemaining = 0;
  uint64_t FTrusted = kTrustedMinimum;
  std::vector<uint8_t> FOwn;
  std::unique_ptr<TReadAhead> FReadAhead;
};

}  // namespace

int LzmaDecompressToMemory(TStream& source, const TPreprocessor& sourcePreprocessor, uint64_t decodedSize,
                           std::vector<uint8_t>& dest, const TDecodedObserver& destObserver) {
  dest.clear();
  if (decodedSize > SIZE_MAX) RaiseLzmaError(LzmaMemoryError);
  uint8_t props[LZMA_PROPS_SIZE];
  if (!ReadProperties(source, sourcePreprocessor, props)) return LzmaDataError;

  // Variant of the SDK's dictionary interface: only the probabilities are allocated, the
  // window is dest itself. Matches never reach back further than what was decoded (the
  // coder checks distances against the decoded length), so the window may grow by
  // reallocation between calls as long as it never wraps.
  TDecoderProbs decoder;
  CLzmaDec* dec = &decoder.Dec;
  if (const SRes res = LzmaDec_AllocateProbs(dec, props, LZMA_PROPS_SIZE, &gAlloc); res != SZ_OK) RaiseLzmaError(res);

  const size_t total = static_cast<size_t>(decodedSize);
  TCodedInput input(source, sourcePreprocessor, decodedSize);
  const uint8_t* inBuf = nullptr;
  size_t inPos = 0, inLen = 0;
  try {
    dest.resize(static_cast<size_t>(std::min<uint64_t>(total, input.Trusted())));
    dec->dic = dest.data();
    dec->dicBufSize = dest.size();
    LzmaDec_Init(dec);
    while (dec->dicPos < total) {
      if (dec->dicPos == dest.size()) {
        dest.resize(std::min(total, std::max(dest.size() * 2, kBufferSize)));
        dec->dic = dest.data();
        dec->dicBufSize = dest.size();
      }
      if (inPos == inLen) {
        inBuf = input.Next(inLen);
        inPos = 0;
      }
      const size_t before = dec->dicPos;
      // Short steps keep what the observer reads in the cache; the coder may stop at any
      // limit and goes on from there.
      const size_t limit = destObserver ? std::min(dest.size(), before + kObservedStep) : dest.size();
      size_t srcLen = inLen - inPos;
      ELzmaStatus status;
      const SRes res = LzmaDec_DecodeToDic(dec, limit, inBuf + inPos, &srcLen, LZMA_FINISH_ANY, &status);
      inPos += srcLen;
      if (destObserver && dec->dicPos > before) destObserver(dest.data() + before, dec->dicPos - before);
      if (res != SZ_OK || status == LZMA_STATUS_FINISHED_WITH_MARK) break;
      if (srcLen == 0 && dec->dicPos == before) break;  // the input is exhausted
    }
  } catch (const std::bad_alloc&) {
    dest.clear();
    dest.shrink_to_fit();
    RaiseLzmaError(LzmaMemoryError);
  }
  const size_t produced = dec->dicPos;
  dest.resize(produced);
  return produced == total ? LzmaOk : LzmaDataError;
}

int LzmaDecompressToSink(TStream& source, const TPreprocessor& sourcePreprocessor, uint64_t decodedSize,
                         const TDecodedObserver& sink) {
  uint8_t props[LZMA_PROPS_SIZE];
  if (!ReadProperties(source, sourcePreprocessor, props)) return LzmaDataError;
  TDecoderProbs decoder;
  CLzmaDec* dec = &decoder.Dec;
  if (const SRes res = LzmaDec_AllocateProbs(dec, props, LZMA_PROPS_SIZE, &gAlloc); res != SZ_OK) RaiseLzmaError(res);

  // The window is a ring of the dictionary's size (matches reach no further back), or of
  // the payload's when that is smaller. Until it first wraps it is a plain buffer and may
  // grow, so a forged size or dictionary gets memory only as data arrives.
  const uint32_t dictSize =
      uint32_t(props[1]) | (uint32_t(props[2]) << 8) | (uint32_t(props[3]) << 16) | (uint32_t(props[4]) << 24);
  const size_t ring = static_cast<size_t>(std::max<uint64_t>(std::min<uint64_t>(dictSize, decodedSize), 1));
  TCodedInput input(source, sourcePreprocessor, decodedSize);
  std::vector<uint8_t> window;
  const uint8_t* inBuf = nullptr;
  size_t inPos = 0, inLen = 0;
  uint64_t produced = 0;
  bool wrapped = false;
  try {
    window.resize(static_cast<size_t>(std::min<uint64_t>(ring, input.Trusted())));
    dec->dic = window.data();
    dec->dicBufSize = window.size();
    LzmaDec_Init(dec);
    while (produced < decodedSize) {
      if (dec->dicPos == window.size()) {
        if (!wrapped && window.size() < ring) {
          window.resize(std::min(ring, std::max(window.size() * 2, kBufferSize)));
          dec->dic = window.data();
          dec->dicBufSize = window.size();
        } else {
          // As the SDK's own buffer decoder does: the coder goes on at the ring's start.
          dec->dicPos = 0;
          wrapped = true;
        }
      }
      if (inPos == inLen) {
        inBuf = input.Next(inLen);
        inPos = 0;
      }
      const size_t before = dec->dicPos;
      const uint64_t left = decodedSize - produced;
      const size_t limit = static_cast<size_t>(
          std::min<uint64_t>({window.size(), uint64_t(before) + kObservedStep, uint64_t(before) + left}));
      size_t srcLen = inLen - inPos;
      ELzmaStatus status;
      const SRes res = LzmaDec_DecodeToDic(dec, limit, inBuf + inPos, &srcLen, LZMA_FINISH_ANY, &status);
      inPos += srcLen;
      if (dec->dicPos > before) {
        sink(window.data() + before, dec->dicPos - before);
        produced += dec->dicPos - before;
      }
      if (res != SZ_OK || status == LZMA_STATUS_FINISHED_WITH_MARK) break;
      if (srcLen == 0 && dec->dicPos == before) break;  // the input is exhausted
    }
  } catch (const std::bad_alloc&) {
    RaiseLzmaError(LzmaMemoryError);
  }
  return produced == decodedSize ? LzmaOk : LzmaDataError;
}

void LzmaCompress(const TLZMAStreams& streams, int level) {
  const CLzmaEncProps props = PropsForLevel(level);
  if (props.lc > 8 || props.lp > 4 || props.pb > 4 || props.dictSize > (1u << 27)) RaiseLzmaError(LzmaParamError);

  struct TEncoder {
    CLzmaEncHandle Handle = LzmaEnc_Create(&gAlloc);
    ~TEncoder() {
      if (Handle) LzmaEnc_Destroy(Handle, &gAlloc, &gAlloc);
    }
  } encoder;
  if (!encoder.Handle) RaiseLzmaError(LzmaMemoryError);
  if (const SRes res = LzmaEnc_SetProps(encoder.Handle, &props); res != SZ_OK) RaiseLzmaError(res);

  TInStream in{{InRead}, streams.SourceStream, nullptr};
  TOutStream out{{OutWrite}, streams.DestStream, &streams.DestPreprocessor, {}, nullptr};

  uint8_t header[LZMA_PROPS_SIZE];
  SizeT headerSize = LZMA_PROPS_SIZE;
  if (const SRes res = LzmaEnc_WriteProperties(encoder.Handle, header, &headerSize); res != SZ_OK) RaiseLzmaError(res);
  // The header keeps the level's dictionary, but a source smaller than it is coded with a
  // window just large enough: the same matches are in reach, and the match finder's
  // tables (8 MiB cleared at level 4 however small the input) shrink with it. A larger
  // window in the header is always enough for the decoder.
  int64_t sourceLeft = -1;
  try {
    sourceLeft = streams.SourceStream->Size() - streams.SourceStream->Position();
  } catch (const zel::Exception&) {
    // A stream that cannot tell its size is coded with the full window.
  }
  if (sourceLeft >= 0 && uint64_t(sourceLeft) < props.dictSize) {
    CLzmaEncProps small = props;
    small.dictSize = 1u << 12;
    while (small.dictSize < uint64_t(sourceLeft)) small.dictSize <<= 1;
    if (const SRes res = LzmaEnc_SetProps(encoder.Handle, &small); res != SZ_OK) RaiseLzmaError(res);
  }
  if (OutWrite(&out, header, headerSize) != headerSize) {
    if (out.Error) std::rethrow_exception(out.Error);
    RaiseLzmaError(LzmaWriteError);
  }

  const SRes res = LzmaEnc_Encode(encoder.Handle, &out.Vt, &in.Vt, nullptr, &gAlloc, &gAlloc);
  if (in.Error) std::rethrow_exception(in.Error);
  if (out.Error) std::rethrow_exception(out.Error);
  if (res != SZ_OK) RaiseLzmaError(res);
}

void LzmaCompress(TStream& source, TStream& dest, int level, const TPreprocessor& destPreprocessor) {
  TLZMAStreams streams;
  streams.SourceStream = &source;
  streams.DestStream = &dest;
  streams.DestPreprocessor = destPreprocessor;
  LzmaCompress(streams, level);
}

}  // namespace kivo
