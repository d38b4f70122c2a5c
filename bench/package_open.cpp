// How fast the setup program opens its product package: the reader decodes the whole
// payload (RC4 + LZMA) and checks its CRC at every start. Compares the reader with a raw
// LZMA decode of the same coded bytes (the SDK's one-call decoder into a buffer of the
// final size: no cipher, no checksum, no streams), and times the CRC and RC4 alone.
//
//   bench_package_open [payload MB, default 40] [repetitions, default 5]
//   bench_package_open --package FILE [repetitions, default 3] [--lzma-alone OUT]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "library/Crc32.h"
#include "library/Rc4.h"
#include "library/Streams.h"
#include "package/SetupPackage.h"

extern "C" {
#include <LzmaDec.h>
}

using namespace zel;
using namespace kivo;
using Clock = std::chrono::steady_clock;

namespace {

struct TRandom {
  uint64_t State;
  uint32_t Next() {
    State ^= State << 13;
    State ^= State >> 7;
    State ^= State << 17;
    return static_cast<uint32_t>(State >> 16);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
};

// Instruction-like byte patterns with random operands: compresses roughly like a program.
void AppendCode(std::vector<uint8_t>& out, size_t size, TRandom& rng) {
  static const std::vector<std::vector<uint8_t>> kOps = {
      {0x55},
      {0x48, 0x89, 0xE5},
      {0x48, 0x83, 0xEC},
      {0xC3},
      {0x90},
      {0x48, 0x8B, 0x45},
      {0x48, 0x89, 0x7D},
      {0x41, 0x57},
      {0x41, 0x56},
      {0x5D},
      {0x31, 0xC0},
      {0x0F, 0x1F, 0x44, 0x00, 0x00},
      {0x48, 0x8D, 0x0D},
      {0xFF, 0x15},
      {0x74},
      {0x75},
      {0x85, 0xC0},
      {0x48, 0x85, 0xC9},
  };
  const size_t end = out.size() + size;
  while (out.size() < end) {
    const auto& op = kOps[rng.Below(static_cast<uint32_t>(kOps.size()))];
    out.insert(out.end(), op.begin(), op.end());
    const uint32_t r = rng.Below(10);
    if (r < 3) out.push_back(static_cast<uint8_t>(rng.Below(64) * 8));  // small displacement
    else if (r < 4) {                                                   // call/lea target
      out.push_back(0xE8);
      const uint32_t target = rng.Below(1 << 20);
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(target >> (8 * i)));
    }
  }
  out.resize(end);
}

// Already-compressed data (pictures, archives): incompressible.
void AppendNoise(std::vector<uint8_t>& out, size_t size, TRandom& rng) {
  for (size_t i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(rng.Next()));
}

void AppendText(std::vector<uint8_t>& out, size_t size, TRandom& rng) {
  static const char* const kWords[] = {"Setup",    "install", "the",     "folder",   "player", "skin",    "Language",
                                       "update",   "file",    "version", "=",        "option", "media",   "KIVO",
                                       "playlist", "audio",   "video",   "settings", "user",   "[Common]"};
  const size_t end = out.size() + size;
  while (out.size() < end) {
    const char* w = kWords[rng.Below(20)];
    out.insert(out.end(), w, w + std::strlen(w));
    out.push_back(rng.Below(8) == 0 ? '\n' : ' ');
  }
  out.resize(end);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

template <typename F>
double Best(int repetitions, F&& f) {
  double best = 1e30;
  for (int i = 0; i < repetitions; ++i) {
    const auto start = Clock::now();
    f();
    best = std::min(best, Seconds(Clock::now() - start));
  }
  return best;
}

}  // namespace

// Times one package: the reader from memory and from the file, the raw decode of its coded
// bytes, CRC and RC4 alone. With --lzma-alone, also writes the deciphered body with the
// 13-byte header of the .lzma format, so that "xz -dc --format=lzma" can decode the very
// same bytes (bench/vs_nsis.sh times it beside the reader).
int BenchPackage(const char* path, int repetitions, const char* lzmaAlone) {
  TFileStream file(FromUtf8(path), FileMode::OpenRead);
  std::vector<uint8_t> package(static_cast<size_t>(file.Size()));
  file.ReadBuffer(package.data(), package.size());
  if (package.size() < kSetupPackageHeaderSize + LZMA_PROPS_SIZE) {
    std::fprintf(stderr, "%s: too short for a package\n", path);
    return 1;
  }
  const uint32_t payloadSize = package[8] | (package[9] << 8) | (package[10] << 16) | (uint32_t(package[11]) << 24);
  std::vector<uint8_t> body(package.begin() + kSetupPackageHeaderSize, package.end());
  TRC4 rc4;
  const uint8_t key[4] = {0x17, 0x9A, 0x2B, 0x6D};
  rc4.Init(key, 4);
  rc4.Crypt(body.data(), body.data(), body.size());
  if (lzmaAlone) {
    TFileStream out(FromUtf8(lzmaAlone), FileMode::Create);
    out.WriteBuffer(body.data(), LZMA_PROPS_SIZE);
    const uint64_t size = payloadSize;
    for (int i = 0; i < 8; ++i) out.WriteValue(static_cast<uint8_t>(size >> (8 * i)));
    out.WriteBuffer(body.data() + LZMA_PROPS_SIZE, body.size() - LZMA_PROPS_SIZE);
  }
  ISzAlloc alloc = {[](void*, size_t n) { return std::malloc(n); }, [](void*, void* p) { std::free(p); }};
  double fromMemory = 1e30, fromFile = 1e30, raw = 1e30;
  int members = 0;
  for (int i = 0; i < repetitions; ++i) {
    fromMemory = std::min(fromMemory, Best(1, [&] {
                            TReadOnlyMemoryStream stream(package.data(), package.size());
                            TSetupPackageReader reader(stream);
                            members = reader.FileTable().Count();
                          }));
    fromFile = std::min(fromFile, Best(1, [&] { TSetupPackageReader reader(FromUtf8(path)); }));
    std::unique_ptr<uint8_t[]> out(new uint8_t[payloadSize]);
    SizeT outLen = payloadSize, inLen = body.size() - LZMA_PROPS_SIZE;
    ELzmaStatus status;
    const auto start = Clock::now();
    LzmaDecode(out.get(), &outLen, body.data() + LZMA_PROPS_SIZE, &inLen, body.data(), LZMA_PROPS_SIZE, LZMA_FINISH_ANY,
               &status, &alloc);
    raw = std::min(raw, Seconds(Clock::now() - start));
  }
  const double mb = payloadSize / 1e6;
  std::printf("package %s: payload %.1f MB in %d members, coded %.1f MB\n", path, mb, members, body.size() / 1e6);
  std::printf("open from memory:  %8.1f ms  %7.1f MB/s of payload\n", fromMemory * 1e3, mb / fromMemory);
  std::printf("open from file:    %8.1f ms  %7.1f MB/s of payload\n", fromFile * 1e3, mb / fromFile);
  std::printf("raw LZMA decode:   %8.1f ms  %7.1f MB/s of payload\n", raw * 1e3, mb / raw);
  std::printf("open / raw decode: %8.3f\n", fromMemory / raw);
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--package") == 0) {
    const int repetitions = argc > 3 && argv[3][0] != '-' ? std::atoi(argv[3]) : 3;
    const char* lzmaAlone = nullptr;
    for (int i = 3; i + 1 < argc; ++i)
      if (std::strcmp(argv[i], "--lzma-alone") == 0) lzmaAlone = argv[i + 1];
    return BenchPackage(argv[2], repetitions, lzmaAlone);
  }
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 40;
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
  const size_t target = megabytes * 1000 * 1000;

  // Members of mixed kinds and sizes, as a product folder has them.
  TRandom rng{0x9E3779B97F4A7C15ull};
  TSetupPackageBuilder builder(kSetupPackageKey);
  size_t total = 0;
  int members = 0;
  while (total < target) {
    std::vector<uint8_t> data;
    const uint32_t kind = rng.Below(10);
    const size_t size = std::min<size_t>(target - total, 4096 + rng.Below(kind < 5 ? 2000000 : 400000));
    if (kind < 5) AppendCode(data, size, rng);
    else if (kind < 8) AppendNoise(data, size, rng);
    else AppendText(data, size, rng);
    TMemoryStream source(std::move(data));
    builder.AddFile(source, Format(u"Member%d.bin", members++));
    total += size;
  }
  TMemoryStream package;
  const auto buildStart = Clock::now();
  builder.Commit(package, kSetupPackageDefaultLevel);
  const double buildTime = Seconds(Clock::now() - buildStart);
  const size_t payloadSize = builder.Payload().Bytes().size();
  const double mb = payloadSize / 1e6;
  std::printf("payload %.1f MB in %d members, package %.1f MB (%.1f%%), built at level 4 in %.2f s\n", mb, members,
              package.Bytes().size() / 1e6, 100.0 * package.Bytes().size() / payloadSize, buildTime);

  // The reader, from a package in memory (as the resource is), against the same coded
  // bytes, deciphered beforehand, through the SDK's one-call decoder. The two alternate so
  // that a busy machine slows both alike.
  std::vector<uint8_t> body(package.Memory() + 12, package.Memory() + package.Bytes().size());
  TRC4 rc4;
  const uint8_t key[4] = {0x17, 0x9A, 0x2B, 0x6D};
  rc4.Init(key, 4);
  rc4.Crypt(body.data(), body.data(), body.size());
  ISzAlloc alloc = {[](void*, size_t n) { return std::malloc(n); }, [](void*, void* p) { std::free(p); }};
  size_t openedMembers = 0;
  bool rawOk = true;
  double open = 1e30, raw = 1e30;
  for (int i = 0; i < repetitions; ++i) {
    open = std::min(open, Best(1, [&] {
                      TReadOnlyMemoryStream stream(package.Memory(), package.Bytes().size());
                      TSetupPackageReader reader(stream);
                      openedMembers = reader.FileTable().Count();
                    }));
    std::unique_ptr<uint8_t[]> out(new uint8_t[payloadSize]);  // fresh pages, as the reader gets
    SizeT outLen = payloadSize, inLen = body.size() - LZMA_PROPS_SIZE;
    ELzmaStatus status;
    const auto start = Clock::now();
    const SRes res = LzmaDecode(out.get(), &outLen, body.data() + LZMA_PROPS_SIZE, &inLen, body.data(), LZMA_PROPS_SIZE,
                                LZMA_FINISH_ANY, &status, &alloc);
    raw = std::min(raw, Seconds(Clock::now() - start));
    rawOk = rawOk && res == SZ_OK && outLen == payloadSize &&
            std::memcmp(out.get(), builder.Payload().Memory(), payloadSize) == 0;
  }
  if (openedMembers != static_cast<size_t>(members)) {
    std::fprintf(stderr, "reader saw %zu members, expected %d\n", openedMembers, members);
    return 1;
  }
  if (!rawOk) {
    std::fprintf(stderr, "raw decode did not reproduce the payload\n");
    return 1;
  }

  uint32_t crcValue = 0;
  const double crc =
      Best(repetitions, [&] { crcValue = TZELHashCRC32::Compute(builder.Payload().Memory(), payloadSize); });
  std::vector<uint8_t> scratch(body);
  const double cipher = Best(repetitions, [&] {
    TRC4 r;
    r.Init(key, 4);
    r.Crypt(scratch.data(), scratch.data(), scratch.size());
  });

  std::printf("open package (RC4 + LZMA + CRC): %8.1f ms  %7.1f MB/s of payload\n", open * 1e3, mb / open);
  std::printf("raw LZMA decode:                 %8.1f ms  %7.1f MB/s of payload\n", raw * 1e3, mb / raw);
  std::printf("open / raw decode:               %8.3f\n", open / raw);
  std::printf("CRC-32 alone:                    %8.1f ms  %7.1f MB/s (crc %08X)\n", crc * 1e3, mb / crc, crcValue);
  std::printf("RC4 alone (coded bytes):         %8.1f ms  %7.1f MB/s\n", cipher * 1e3, scratch.size() / 1e6 / cipher);
  return 0;
}
