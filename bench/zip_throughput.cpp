// How fast the backup archive is written: TZELZipWriter over a tree the size of an installation
// (about 45 MB in 180 files: incompressible media, program-like text at about 3:1, settings and
// language text at about 8:1) beside zlib's raw deflate of the same bytes at the same level,
// held in memory and written to one file in 1 MiB writes. The writer reads every file, computes
// its CRC, deflates and writes headers, so the ratio of the two is the writer's overhead.
// Runs alternate between the two; medians are reported. Then the read-back checks alone, the
// CRC, and zlib's levels for the size/speed trade-off.
//
//   bench_zip_throughput [runs, default 7] [total MB, default 45]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "library/Crc32.h"
#include "library/ZipWriter.h"

using namespace zel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

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

// Lines of words from a vocabulary (skewed towards its first words), some hex numbers among
// them: a small vocabulary reads like settings text, a large one with numbers like code.
std::vector<uint8_t> MakeText(size_t size, uint32_t vocabularySize, uint32_t numberPercent, TRandom& rng) {
  std::vector<std::string> vocabulary(vocabularySize);
  for (auto& word : vocabulary)
    for (uint32_t n = 3 + rng.Below(8); n > 0; --n) word += "abcdefghijklmnopqrstuvwxyz_"[rng.Below(27)];
  std::string text;
  text.reserve(size + 256);
  char number[16];
  while (text.size() < size) {
    text.append(2 * rng.Below(4), ' ');
    for (uint32_t n = 3 + rng.Below(10); n > 0; --n) {
      if (rng.Below(100) < numberPercent) {
        std::snprintf(number, sizeof number, "%08x", rng.Next());
        text += number;
      } else {
        const uint64_t i = rng.Below(vocabularySize);
        text += vocabulary[i * i / vocabularySize];
      }
      text += ' ';
    }
    text += ";\r\n";
  }
  text.resize(size);
  return std::vector<uint8_t>(text.begin(), text.end());
}

struct TFile {
  String Path;
  String ArchiveName;
  std::vector<uint8_t> Bytes;
};

String ToString(const fs::path& p) {
#ifdef _WIN32
  const std::wstring w = p.wstring();
  return String(w.begin(), w.end());
#else
  return FromUtf8(p.string());
#endif
}

std::vector<TFile> MakeTree(const fs::path& root, size_t totalBytes) {
  static const char* const kFolders[] = {"", "Plugins", "Skins", "System\\Data", "Languages", "Icons"};
  constexpr int kFiles = 180;
  // Sizes from a few kilobytes to a few megabytes, scaled to the total.
  std::vector<double> weights;
  double sum = 0;
  for (int i = 0; i < kFiles; ++i) {
    const int w = (i * 37) % 100;
    weights.push_back(1 + w * w / 100.0 + (i % 20 == 0 ? 400 : 0));
    sum += weights.back();
  }
  TRandom rng{0x4B49564F};
  std::vector<TFile> files;
  for (int i = 0; i < kFiles; ++i) {
    const size_t size = static_cast<size_t>(weights[i] / sum * double(totalBytes));
    TFile f;
    switch (i % 3) {
      case 0:  // media, archives: incompressible
        f.Bytes.resize(size);
        for (auto& b : f.Bytes) b = static_cast<uint8_t>(rng.Next());
        break;
      case 1: f.Bytes = MakeText(size, 1000, 5, rng); break;  // about 3:1
      default: f.Bytes = MakeText(size, 12, 0, rng); break;   // about 8:1
    }
    std::string folder = kFolders[i % std::size(kFolders)];
    std::string name = "file" + std::to_string(i) + (i % 3 == 0 ? ".dat" : i % 3 == 1 ? ".dll" : ".ini");
    f.ArchiveName = Ascii(folder.empty() ? name : folder + "\\" + name);
    fs::path dir = root;
    for (char& c : folder)
      if (c == '\\') c = '/';
    if (!folder.empty()) dir /= folder;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(f.Bytes.data()), std::streamsize(f.Bytes.size()));
    f.Path = ToString(dir / name);
    files.push_back(std::move(f));
  }
  return files;
}

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double RunWriter(const std::vector<TFile>& files, const String& archive, uint64_t& archiveSize) {
  const auto start = Clock::now();
  TZELZipWriter writer(archive);
  for (const TFile& f : files) writer.AddFile(f.Path, f.ArchiveName);
  archiveSize = writer.Size();
  writer.Close();
  return Seconds(start);
}

// Raw deflate of bytes already in memory, written to a file: what the writer cannot beat.
double RunZlib(const std::vector<TFile>& files, const String& output, int level, uint64_t& compressedSize) {
  std::vector<uint8_t> buffer(1024 * 1024);
  const auto start = Clock::now();
  unsigned error = 0;
  const platform::FileHandle h = platform::FileOpen(
      output, platform::FileAccess::Write, platform::FileDisposition::CreateAlways, platform::ShareRead, error);
  if (h == platform::InvalidFile) std::exit(2);
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  compressedSize = 0;
  for (const TFile& f : files) {
    deflateReset(&z);
    z.next_in = const_cast<uint8_t*>(f.Bytes.data());
    z.avail_in = uInt(f.Bytes.size());
    int result;
    do {
      z.next_out = buffer.data();
      z.avail_out = uInt(buffer.size());
      result = deflate(&z, Z_FINISH);
      const size_t n = buffer.size() - z.avail_out;
      if (platform::FileWrite(h, buffer.data(), n) != int64_t(n)) std::exit(2);
      compressedSize += n;
    } while (result != Z_STREAM_END);
  }
  deflateEnd(&z);
  platform::FileFlush(h);
  platform::FileClose(h);
  return Seconds(start);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const size_t totalMB = argc > 2 ? size_t(std::max(1, std::atoi(argv[2]))) : 45;
  const fs::path root = fs::temp_directory_path() / "kivo-bench-zip";
  std::error_code ec;
  fs::remove_all(root, ec);
  const std::vector<TFile> files = MakeTree(root / "tree", totalMB * 1024 * 1024);
  uint64_t total = 0;
  for (const TFile& f : files) total += f.Bytes.size();
  const String archive = ToString(root / "backup.zip"), raw = ToString(root / "raw.deflate");
  std::printf("tree: %zu files, %.1f MB\n", files.size(), double(total) / 1e6);

  try {
    std::vector<double> writer, zlib;
    uint64_t archiveSize = 0, rawSize = 0;
    for (int i = 0; i < runs; ++i) {
      writer.push_back(RunWriter(files, archive, archiveSize));
      zlib.push_back(RunZlib(files, raw, 6, rawSize));
    }
    const double w = Median(writer), z = Median(zlib);
    std::printf("TZELZipWriter : %7.3f s  %6.1f MB/s  archive %.1f MB (%.2f:1)\n", w, double(total) / 1e6 / w,
                double(archiveSize) / 1e6, double(total) / double(archiveSize));
    std::printf("zlib deflate 6: %7.3f s  %6.1f MB/s  output  %.1f MB (%.2f:1)\n", z, double(total) / 1e6 / z,
                double(rawSize) / 1e6, double(total) / double(rawSize));
    std::printf("writer / zlib : %.3fx (median of %d alternating runs each; fastest runs: %.3fx)\n", w / z, runs,
                *std::min_element(writer.begin(), writer.end()) / *std::min_element(zlib.begin(), zlib.end()));

    // The read-back check before anything is deleted.
    {
      TZELZipWriter writer(archive);
      for (const TFile& f : files) writer.AddFile(f.Path, f.ArchiveName);
      writer.Close();
      std::vector<double> verify, contents;
      for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        writer.Verify();
        verify.push_back(Seconds(start));
        start = Clock::now();
        writer.VerifyContents();
        contents.push_back(Seconds(start));
      }
      std::printf("Verify        : %7.4f s; VerifyContents %.3f s (%.0f MB/s)\n", Median(verify), Median(contents),
                  double(total) / 1e6 / Median(contents));
    }

    // The CRC the writer uses (zlib's, the ZIP polynomial) beside the package CRC of the library,
    // which is another CRC (not reflected, no inversion) and cannot stand in for it.
    {
      std::vector<double> zipCrc, packageCrc;
      uint32_t sink = 0;
      for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        for (const TFile& f : files) sink ^= uint32_t(crc32(0, f.Bytes.data(), uInt(f.Bytes.size())));
        zipCrc.push_back(Seconds(start));
        start = Clock::now();
        for (const TFile& f : files) sink ^= TZELHashCRC32::Compute(f.Bytes.data(), f.Bytes.size());
        packageCrc.push_back(Seconds(start));
      }
      std::printf("CRC-32 zlib   : %6.0f MB/s; package CRC (TZELHashCRC32): %6.0f MB/s%s\n",
                  double(total) / 1e6 / Median(zipCrc), double(total) / 1e6 / Median(packageCrc), sink ? "" : " ");
    }
    // Per kind, at level 6 (one run each: orientation only).
    for (int kind = 0; kind < 3; ++kind) {
      std::vector<TFile> some;
      for (size_t i = kind; i < files.size(); i += 3) some.push_back(files[i]);
      uint64_t in = 0, out = 0;
      for (const TFile& f : some) in += f.Bytes.size();
      const double t = RunZlib(some, raw, 6, out);
      static const char* const kKinds[] = {"incompressible", "code-like", "text-like"};
      std::printf("  %-15s %6.1f MB  %5.2f:1  %6.1f MB/s\n", kKinds[kind], double(in) / 1e6, double(in) / double(out),
                  double(in) / 1e6 / t);
    }
    // The level trade-off (one run each).
    for (int level : {1, 3, 5, 6, 7, 9}) {
      uint64_t out = 0;
      const double t = RunZlib(files, raw, level, out);
      std::printf("level %d: %7.3f s  %6.1f MB/s  %.1f MB (%.3f:1)\n", level, t, double(total) / 1e6 / t,
                  double(out) / 1e6, double(total) / double(out));
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  if (!std::getenv("KIVO_BENCH_KEEP")) fs::remove_all(root, ec);
  return 0;
}
