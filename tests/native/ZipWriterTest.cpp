#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "library/ZipWriter.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#endif

using namespace zel;
using namespace kivo::test;

namespace {

#ifdef _WIN32
constexpr char16_t kSeparator = u'\\';
#else
constexpr char16_t kSeparator = u'/';
#endif

String In(StringView folder, StringView name) { return String(folder) + kSeparator + String(name); }

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

std::vector<uint8_t> TextBytes(size_t size) {
  std::string text;
  for (int line = 0; text.size() < size; ++line) text += "Skin=Default; line " + std::to_string(line % 97) + "\r\n";
  text.resize(size);
  return Bytes(text);
}

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b.at(at) | (b.at(at + 1) << 8)); }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) { return Get16(b, at) | (uint32_t(Get16(b, at + 2)) << 16); }
uint64_t Get64(const std::vector<uint8_t>& b, size_t at) { return Get32(b, at) | (uint64_t(Get32(b, at + 4)) << 32); }

// What an independent reader sees: parsed from the end record on, data inflated and its CRC checked.
struct TReadEntry {
  std::string Name;
  uint16_t MadeBy = 0, Flags = 0, Method = 0, DosTime = 0, DosDate = 0;
  uint32_t External = 0;
  uint64_t NtfsWriteTime = 0;
  std::vector<uint8_t> Data;
};

uint64_t NtfsWriteTime(const std::vector<uint8_t>& b, size_t at, size_t size) {
  for (size_t end = at + size; at + 4 <= end; at += 4 + Get16(b, at + 2))
    if (Get16(b, at) == 0x000A && Get16(b, at + 2) >= 32 && Get16(b, at + 8) == 1) return Get64(b, at + 12);
  return 0;
}

std::vector<TReadEntry> ReadZip(const std::vector<uint8_t>& zip) {
  std::vector<TReadEntry> entries;
  if (zip.size() < 22 || Get32(zip, zip.size() - 22) != 0x06054B50) {
    ADD_FAILURE() << "no end record at the end";
    return entries;
  }
  const size_t end = zip.size() - 22;
  const size_t count = Get16(zip, end + 10);
  size_t at = Get32(zip, end + 16);
  EXPECT_EQ(at + Get32(zip, end + 12), end) << "directory size and offset";
  for (size_t i = 0; i < count; ++i) {
    TReadEntry e;
    EXPECT_EQ(Get32(zip, at), 0x02014B50u);
    e.MadeBy = Get16(zip, at + 4);
    e.Flags = Get16(zip, at + 8);
    e.Method = Get16(zip, at + 10);
    e.DosTime = Get16(zip, at + 12);
    e.DosDate = Get16(zip, at + 14);
    const uint32_t crc = Get32(zip, at + 16), packed = Get32(zip, at + 20), size = Get32(zip, at + 24);
    const size_t nameLength = Get16(zip, at + 28), extraLength = Get16(zip, at + 30);
    e.External = Get32(zip, at + 38);
    const size_t local = Get32(zip, at + 42);
    e.Name.assign(reinterpret_cast<const char*>(&zip.at(at + 46)), nameLength);
    e.NtfsWriteTime = NtfsWriteTime(zip, at + 46 + nameLength, extraLength);
    at += 46 + nameLength + extraLength + Get16(zip, at + 32);

    EXPECT_EQ(Get32(zip, local), 0x04034B50u) << e.Name;
    EXPECT_EQ(Get32(zip, local + 14), crc) << e.Name << ": local header CRC";
    EXPECT_EQ(Get32(zip, local + 18), packed) << e.Name;
    EXPECT_EQ(Get32(zip, local + 22), size) << e.Name;
    const size_t data = local + 30 + Get16(zip, local + 26) + Get16(zip, local + 28);
    e.Data.resize(size);
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    z.next_in = const_cast<uint8_t*>(&zip.at(data));
    z.avail_in = packed;
    uint8_t spare;
    z.next_out = size ? e.Data.data() : &spare;
    z.avail_out = size ? size : 1;
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << e.Name;
    EXPECT_EQ(z.total_out, size) << e.Name;
    EXPECT_EQ(z.avail_in, 0u) << e.Name << ": compressed size";
    inflateEnd(&z);
    EXPECT_EQ(crc32(0, e.Data.data(), uInt(size)), crc) << e.Name << ": CRC";
    entries.push_back(std::move(e));
  }
  return entries;
}

struct TSource {
  TSource(String name, std::vector<uint8_t> bytes) : ArchiveName(std::move(name)), Bytes(std::move(bytes)) {}
  String ArchiveName;
  std::vector<uint8_t> Bytes;
  String Path;  // filled when written
};

// Lays the sources out under folder (file names: the archive names with "\" as "_").
void WriteSources(StringView folder, std::vector<TSource>& sources) {
  for (TSource& s : sources) {
    s.Path = In(folder, ReplaceAll(s.ArchiveName, u"\\", u"_"));
    WriteAll(s.Path, s.Bytes);
  }
}

// Python's zipfile, unzip -t and 7z t on the archive (tests/tools/zip_check.py); natively only.
void CheckWithOtherReaders(StringView archive, const std::vector<TSource>& sources) {
#ifndef _WIN32
  const std::string zip = ToUtf8(archive), manifest = zip + ".manifest", log = zip + ".check.log";
  std::string lines;
  for (const TSource& s : sources) lines += ToUtf8(s.ArchiveName) + "\t" + ToUtf8(s.Path) + "\n";
  WriteAll(FromUtf8(manifest), Bytes(lines));
  const std::string command = "python3 '" KIVO_ZIP_CHECK "' '" + zip + "' '" + manifest + "' >'" + log + "' 2>&1";
  const int status = std::system(command.c_str());
  const std::vector<uint8_t> output = ReadAll(FromUtf8(log));
  EXPECT_EQ(status, 0) << std::string(output.begin(), output.end());
#endif
}

void WriteArchive(StringView archive, const std::vector<TSource>& sources) {
  TZELZipWriter writer(archive);
  for (const TSource& s : sources) writer.AddFile(s.Path, s.ArchiveName);
  EXPECT_EQ(writer.Count(), sources.size());
  writer.Close();
  writer.VerifyContents();
}

int64_t NowTicks() {
  using namespace std::chrono;
  return platform::kUnixEpochTicks + duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
}

}  // namespace

TEST(ZipWriter, ArchivesReadBackByEveryReader) {
  const String dir = ScratchDir(u"zip-readback");
  std::vector<TSource> sources = {
      {u"empty.txt", {}},
      {u"readme.txt", Bytes("KIVO 4.60\r\n")},
      {u"random.bin", RandomBytes(3 * 1024 * 1024, 7)},   // larger than the buffer after deflate
      {u"compressible.log", TextBytes(3 * 1024 * 1024)},  // many reads, small output
      {u"Профиль пользователя.ini", Bytes("[System]\r\nDefaultLang=Russian\r\n")},
      {u"Grüße, Ärger und Öl.txt", Bytes("umlauts")},
      {u"日本語の設定.xml", Bytes("<cjk/>")},
      {u"Emoji \U0001F3B5 Musik.m3u", Bytes("#EXTM3U\r\n")},  // a surrogate pair in UTF-16
      {u"Profiles\\user\\x.ini", Bytes("[Integration]\r\n")},
  };
  WriteSources(dir, sources);
  const String archive = In(dir, u"backup.zip");
  const int64_t before = NowTicks();
  WriteArchive(archive, sources);

  const std::vector<TReadEntry> entries = ReadZip(ReadAll(archive));
  ASSERT_EQ(entries.size(), sources.size());
  for (size_t i = 0; i < sources.size(); ++i) {
    const TReadEntry& e = entries[i];
    SCOPED_TRACE(e.Name);
    EXPECT_EQ(e.Name, ToUtf8(sources[i].ArchiveName));
    EXPECT_TRUE(e.Data == sources[i].Bytes);
    EXPECT_EQ(e.Flags, 0x0800) << "UTF-8 names";
    EXPECT_EQ(e.Method, 8) << "deflate";
    EXPECT_EQ(e.MadeBy >> 8, 0) << "made by MS-DOS: the attributes are Windows attributes";
    EXPECT_EQ(e.External & 0x20, 0x20u) << "archive attribute";
    EXPECT_EQ(e.External & ~0xFFu, 0u);
    // Ticks since 1601 of a file just written: catches a wrong epoch or unit.
    EXPECT_GE(int64_t(e.NtfsWriteTime), before - 600 * platform::kTicksPerSecond);
    EXPECT_LE(int64_t(e.NtfsWriteTime), NowTicks() + 600 * platform::kTicksPerSecond);
  }
  CheckWithOtherReaders(archive, sources);

  // The same through handles: a file the caller made and sources the caller opened give
  // the same bytes, read back through the kept handle, which stays open for a rename.
  const String handed = In(dir, u"handed.zip");
  unsigned error = 0;
  const platform::FileHandle file = platform::FileOpen(
      handed, platform::FileAccess::ReadWrite, platform::FileDisposition::CreateAlways, platform::ShareRead, error);
  ASSERT_NE(file, platform::InvalidFile);
  {
    TZELZipWriter writer(file, handed);
    for (const TSource& s : sources) {
      const platform::FileHandle source = platform::FileOpen(
          s.Path, platform::FileAccess::Read, platform::FileDisposition::OpenExisting, platform::ShareRead, error);
      ASSERT_NE(source, platform::InvalidFile);
      writer.AddFile(source, s.Path, s.ArchiveName);
      platform::FileClose(source);
    }
    writer.Close();
    EXPECT_EQ(writer.Handle(), file);
    writer.VerifyContents();
  }
  // The same entries (the access times differ: the first archive read the files).
  const std::vector<TReadEntry> again = ReadZip(ReadAll(handed));
  ASSERT_EQ(again.size(), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(again[i].Name, entries[i].Name);
    EXPECT_TRUE(again[i].Data == entries[i].Data);
    EXPECT_EQ(again[i].NtfsWriteTime, entries[i].NtfsWriteTime);
  }
}

TEST(ZipWriter, EmptyArchiveIsAnEndRecordOnly) {
  const String archive = In(ScratchDir(u"zip-empty"), u"empty.zip");
  WriteArchive(archive, {});
  const std::vector<uint8_t> bytes = ReadAll(archive);
  ASSERT_EQ(bytes.size(), 22u);
  EXPECT_EQ(Get32(bytes, 0), 0x06054B50u);
  EXPECT_TRUE(ReadZip(bytes).empty());
  CheckWithOtherReaders(archive, {});
}

#ifndef _WIN32
// The DOS time is local time: checked under a zone with daylight saving, on dates set by hand.
TEST(ZipWriter, TimesAreTheFilesLastWriteTime) {
  struct TZone {
    const char* Old = std::getenv("TZ");
    std::string Saved = Old ? Old : "";
    TZone() { setenv("TZ", "Europe/Berlin", 1), tzset(); }
    ~TZone() { Old ? setenv("TZ", Saved.c_str(), 1) : unsetenv("TZ"), tzset(); }
  } zone;
  struct TCase {
    const char16_t* Name;
    int64_t Seconds;  // since 1970 UTC
    long Nanoseconds;
    uint16_t DosDate, DosTime;  // in Berlin
  } cases[] = {
      // 2019-07-15 13:45:31 UTC = 15:45:31 CEST; odd seconds round down
      {u"summer.txt", 1563198331, 123456700, (39 << 9) | (7 << 5) | 15, (15 << 11) | (45 << 5) | 15},
      // 2020-01-10 08:00:01 UTC = 09:00:01 CET
      {u"winter.txt", 1578643201, 0, (40 << 9) | (1 << 5) | 10, 9 << 11},
      // before the DOS epoch and after its end: the range's ends
      {u"1975.txt", 170812800, 0, (0 << 9) | (1 << 5) | 1, 0},
      {u"2110.txt", 4418064000, 0, (127 << 9) | (12 << 5) | 31, (23 << 11) | (59 << 5) | 29},
  };
  const String dir = ScratchDir(u"zip-times");
  std::vector<TSource> sources;
  for (const TCase& c : cases) sources.push_back({c.Name, Bytes("time")});
  WriteSources(dir, sources);
  for (size_t i = 0; i < sources.size(); ++i) {
    const struct timespec times[2] = {{cases[i].Seconds, cases[i].Nanoseconds},
                                      {cases[i].Seconds, cases[i].Nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, ToUtf8(sources[i].Path).c_str(), times, 0), 0);
  }
  const String archive = In(dir, u"times.zip");
  WriteArchive(archive, sources);
  const std::vector<TReadEntry> entries = ReadZip(ReadAll(archive));
  ASSERT_EQ(entries.size(), std::size(cases));
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(entries[i].Name);
    EXPECT_EQ(entries[i].DosDate, cases[i].DosDate);
    EXPECT_EQ(entries[i].DosTime, cases[i].DosTime);
    EXPECT_EQ(entries[i].NtfsWriteTime,
              uint64_t(platform::kUnixEpochTicks + cases[i].Seconds * 10'000'000 + cases[i].Nanoseconds / 100));
  }
  // The checker reads the zone from the environment as well.
  CheckWithOtherReaders(archive, sources);
}
#endif

TEST(ZipWriter, VerifyCatchesDamage) {
  const String dir = ScratchDir(u"zip-damage");
  std::vector<TSource> sources = {{u"KIVO.ini", Bytes("[System]\r\nVersion=4600\r\n")},
                                  {u"Program\\KIVO.exe", RandomBytes(5000, 3)},
                                  {u"Profiles\\root\\KIVO.ini", Bytes("[Integration]\r\n")}};
  WriteSources(dir, sources);
  const String archive = In(dir, u"damage.zip");
  TZELZipWriter writer(archive);
  for (const TSource& s : sources) writer.AddFile(s.Path, s.ArchiveName);
  writer.Close();
  writer.Verify();
  const std::vector<uint8_t> good = ReadAll(archive);
  // Directory entries: 46 bytes, the name ("KIVO.ini", "Program\KIVO.exe", ...), 36 bytes of NTFS times.
  const size_t end = good.size() - 22, directory = Get32(good, end + 16);
  const size_t second = Get32(good, directory + (46 + 8 + 36) + 42);
  const size_t lastEntry = directory + (46 + 8 + 36) + (46 + 16 + 36);

  auto withoutLastEntry = [&] {
    // A consistent archive of two entries: the last directory entry removed, the end record fixed.
    std::vector<uint8_t> b(good.begin(), good.begin() + lastEntry);
    b.insert(b.end(), good.begin() + end, good.end());
    const size_t e = b.size() - 22;
    b[e + 8] = b[e + 10] = 2;
    const uint32_t size = uint32_t(lastEntry - directory);
    for (int i = 0; i < 4; ++i) b[e + 12 + i] = uint8_t(size >> (8 * i));
    return b;
  };
  struct TCase {
    const char* What;
    std::vector<uint8_t> Bytes;
  } cases[] = {
      {"one byte short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"cut at the directory", std::vector<uint8_t>(good.begin(), good.begin() + directory)},
      {"empty", {}},
      {"a missing entry", withoutLastEntry()},
      {"one byte longer",
       [&] {
         auto b = good;
         b.push_back(0);
         return b;
       }()},
      {"a flipped byte in a local name",
       [&] {
         auto b = good;
         b[second + 30] ^= 1;
         return b;
       }()},
  };
  for (const TCase& c : cases) {
    WriteAll(archive, c.Bytes);
    EXPECT_THROW(writer.Verify(), EZipError) << c.What;
  }
  // Damaged data leaves the headers as written: only the full read finds it.
  auto b = good;
  b[second + 30 + 16 + 36 + 100] ^= 1;
  WriteAll(archive, b);
  EXPECT_NO_THROW(writer.Verify());
  EXPECT_THROW(writer.VerifyContents(), EZipError);
  // Every byte of the directory and end record matters.
  for (size_t at = directory; at < good.size(); ++at) {
    auto b = good;
    b[at] ^= 0x10;
    WriteAll(archive, b);
    EXPECT_THROW(writer.Verify(), EZipError) << "flipped byte at " << at;
  }
  WriteAll(archive, good);
  EXPECT_NO_THROW(writer.VerifyContents());
  WriteAll(archive, withoutLastEntry());
  EXPECT_EQ(ReadZip(ReadAll(archive)).size(), 2u) << "the damaged archive is readable, yet not the one written";
}

TEST(ZipWriter, UnreadableSourceLeavesTheArchiveBefore) {
  const String dir = ScratchDir(u"zip-unreadable");
  std::vector<TSource> sources = {{u"first.txt", RandomBytes(2 * 1024 * 1024, 5)}, {u"second.txt", Bytes("second")}};
  WriteSources(dir, sources);
  // A missing file fails to open; a folder opens on POSIX and fails to read (after the header went out).
  const String unreadable[] = {In(dir, u"missing.txt"), dir};
  for (const String& bad : unreadable) {
    SCOPED_TRACE(ToUtf8(bad));
    const String archive = In(dir, u"partial.zip");
    {
      TZELZipWriter writer(archive);
      writer.AddFile(sources[0].Path, sources[0].ArchiveName);
      try {
        writer.AddFile(bad, u"bad.txt");
        ADD_FAILURE() << "no error";
      } catch (const EZipError& e) {
        EXPECT_NE(e.OSErrorCode(), 0u);
        EXPECT_NE(e.Message().find(bad), String::npos);
      }
      EXPECT_EQ(writer.Count(), 1u);
    }
    // Closed without a directory: the complete first entry stays on disk.
    const std::vector<uint8_t> partial = ReadAll(archive);
    ASSERT_GT(partial.size(), 30u);
    EXPECT_EQ(Get32(partial, 0), 0x04034B50u);
    EXPECT_NE(Get32(partial, partial.size() - 22), 0x06054B50u);

    // The failed entry is cut off again: later files and the directory follow the good ones.
    TZELZipWriter writer(archive);
    writer.AddFile(sources[0].Path, sources[0].ArchiveName);
    EXPECT_THROW(writer.AddFile(bad, u"bad.txt"), EZipError);
    writer.AddFile(sources[1].Path, sources[1].ArchiveName);
    writer.Close();
    writer.Verify();
    const std::vector<TReadEntry> entries = ReadZip(ReadAll(archive));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].Name, "second.txt");
    CheckWithOtherReaders(archive, sources);
  }
}

// Attributes and locks come from the platform: each is checked where it can be set up.
TEST(ZipWriter, RecordsAttributesAndDeniesWriters) {
  const String dir = ScratchDir(u"zip-attributes");
  const String source = In(dir, u"KIVO.ini");
  WriteAll(source, Bytes("[System]\r\n"));
#ifdef _WIN32
  // A program that has the file open for writing keeps it out of the archive (sharing violation).
  unsigned error = 0;
  const platform::FileHandle holder =
      platform::FileOpen(source, platform::FileAccess::Write, platform::FileDisposition::OpenExisting,
                         platform::ShareRead | platform::ShareWrite, error);
  ASSERT_NE(holder, platform::InvalidFile);
  {
    TZELZipWriter writer(In(dir, u"locked.zip"));
    try {
      writer.AddFile(source, u"KIVO.ini");
      ADD_FAILURE() << "a file open for writing was archived";
    } catch (const EZipError& e) {
      EXPECT_EQ(e.OSErrorCode(), 32u);
    }
  }
  platform::FileClose(holder);
#else
  ASSERT_EQ(chmod(ToUtf8(source).c_str(), 0444), 0);
  const String archive = In(dir, u"readonly.zip");
  {
    TZELZipWriter writer(archive);
    writer.AddFile(source, u"KIVO.ini");
    writer.Close();
  }
  const std::vector<TReadEntry> entries = ReadZip(ReadAll(archive));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].External, 0x21u) << "archive and read-only";
#endif
}

TEST(ZipWriter, RefusesSizesPastTheLimit) {
  const String dir = ScratchDir(u"zip-limit");
  std::vector<TSource> sources = {{u"small.txt", Bytes("small")},
                                  {u"random.bin", RandomBytes(50 * 1024, 9)},
                                  {u"profile.log", TextBytes(300 * 1024)}};
  WriteSources(dir, sources);
  const String archive = In(dir, u"limit.zip");
  WriteArchive(archive, {sources[0], sources[1]});
  // The limit covers everything but the end record.
  const uint64_t whole = ReadAll(archive).size() - 22;
  const struct {
    uint64_t Limit;
    size_t Second;   // the source added after small.txt
    size_t Entries;  // in the archive afterwards
  } cases[] = {{whole, 1, 2}, {whole - 1, 1, 1}, {100 * 1024, 2, 1} /* fits compressed, not its size */};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Limit);
    TZELZipWriter writer(archive, c.Limit);
    writer.AddFile(sources[0].Path, sources[0].ArchiveName);
    if (c.Entries == 2) writer.AddFile(sources[c.Second].Path, sources[c.Second].ArchiveName);
    else EXPECT_THROW(writer.AddFile(sources[c.Second].Path, sources[c.Second].ArchiveName), EZipError);
    writer.Close();
    writer.Verify();
    EXPECT_EQ(ReadZip(ReadAll(archive)).size(), c.Entries);
  }
}

TEST(ZipWriter, RefusesNamesAndPathsItCannotStore) {
  const String dir = ScratchDir(u"zip-names");
  const String source = In(dir, u"file.txt");
  WriteAll(source, Bytes("x"));
  TZELZipWriter writer(In(dir, u"names.zip"));
  const String names[] = {u"", String(u"lone \xD800 high"), String(u"lone \xDC00 low"), String(u"nul\0x", 5),
                          String(0x10000, u'a')};
  for (const String& name : names) EXPECT_THROW(writer.AddFile(source, name), EZipError) << ToUtf8(name);
  EXPECT_EQ(writer.Count(), 0u);
  writer.Close();
  writer.Verify();
  EXPECT_THROW(TZELZipWriter{In(In(dir, u"no such folder"), u"x.zip")}, EFCreateError);
}
