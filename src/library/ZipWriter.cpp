#include "library/ZipWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace zel {

namespace {

// Large reads and writes: a backup of a whole installation is tens of megabytes, and each
// system call through Wine costs more than on Windows.
constexpr size_t kBufferSize = 1024 * 1024;
constexpr int kDeflateLevel = 6;

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint16_t kVersionNeeded = 20;  // deflate
// MS-DOS, 2.0: the external attributes' low byte holds Windows attributes. Not host 10 ("NTFS" in
// the format's note): 7-Zip and Info-ZIP read 10 as TOPS-20 and ignore the attributes.
constexpr uint16_t kVersionMadeBy = (0 << 8) | 20;
constexpr uint16_t kFlagUtf8 = 0x0800;
constexpr uint16_t kMethodDeflate = 8;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCrcFieldOffset = 14;  // CRC, compressed size, size: 12 bytes patched after the data
constexpr uint16_t kNtfsTag = 0x000A;
constexpr size_t kNtfsExtraSize = 36;

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, uint16_t(v));
  Put16(out, uint16_t(v >> 16));
}
void Put64(std::vector<uint8_t>& out, uint64_t v) {
  Put32(out, uint32_t(v));
  Put32(out, uint32_t(v >> 32));
}

void PutNtfsExtra(std::vector<uint8_t>& out, const TZELZipWriter::TEntry& e) {
  Put16(out, kNtfsTag);
  Put16(out, kNtfsExtraSize - 4);
  Put32(out, 0);  // reserved
  Put16(out, 1);  // attribute tag 1: the three file times
  Put16(out, 24);
  Put64(out, uint64_t(e.LastWriteTime));
  Put64(out, uint64_t(e.LastAccessTime));
  Put64(out, uint64_t(e.CreationTime));
}

// The fields local header and central header share, from "version needed" to the extra length.
void PutCommon(std::vector<uint8_t>& out, const TZELZipWriter::TEntry& e) {
  Put16(out, kVersionNeeded);
  Put16(out, kFlagUtf8);
  Put16(out, kMethodDeflate);
  Put16(out, e.DosTime);
  Put16(out, e.DosDate);
  Put32(out, e.Crc);
  Put32(out, e.CompressedSize);
  Put32(out, e.Size);
  Put16(out, uint16_t(e.Name.size()));
  Put16(out, uint16_t(kNtfsExtraSize));
}

std::vector<uint8_t> LocalHeader(const TZELZipWriter::TEntry& e) {
  std::vector<uint8_t> out;
  out.reserve(kLocalHeaderSize + e.Name.size() + kNtfsExtraSize);
  Put32(out, kLocalSignature);
  PutCommon(out, e);
  out.insert(out.end(), e.Name.begin(), e.Name.end());
  PutNtfsExtra(out, e);
  return out;
}

void PutCentralHeader(std::vector<uint8_t>& out, const TZELZipWriter::TEntry& e) {
  Put32(out, kCentralSignature);
  Put16(out, kVersionMadeBy);
  PutCommon(out, e);
  Put16(out, 0);  // comment length
  Put16(out, 0);  // disk number
  Put16(out, 0);  // internal attributes
  Put32(out, e.Attributes & 0xFF);
  Put32(out, e.Offset);
  out.insert(out.end(), e.Name.begin(), e.Name.end());
  PutNtfsExtra(out, e);
}

std::vector<uint8_t> EndRecord(size_t count, uint64_t directorySize, uint64_t directoryOffset) {
  std::vector<uint8_t> out;
  Put32(out, kEndSignature);
  Put16(out, 0);  // this disk
  Put16(out, 0);  // disk of the directory
  Put16(out, uint16_t(count));
  Put16(out, uint16_t(count));
  Put32(out, uint32_t(directorySize));
  Put32(out, uint32_t(directoryOffset));
  Put16(out, 0);  // comment length
  return out;
}

size_t CentralHeaderSize(const std::string& name) { return kCentralHeaderSize + name.size() + kNtfsExtraSize; }

// Unpaired surrogates and NUL have no UTF-8 form that readers accept.
bool StorableName(StringView name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c == 0) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// The DOS date and time of a UTC time, in local time; the DOS range is 1980 to 2107.
void SetDosTime(TZELZipWriter::TEntry& e) {
  platform::LocalDateTime t;
  if (!platform::UtcToLocalTime(e.LastWriteTime, t) || t.Year < 1980) t = {1980, 1, 1, 0, 0, 0};
  if (t.Year > 2107) t = {2107, 12, 31, 23, 59, 58};
  e.DosTime = uint16_t((t.Hour << 11) | (t.Minute << 5) | (t.Second / 2));
  e.DosDate = uint16_t(((t.Year - 1980) << 9) | (t.Month << 5) | t.Day);
}

class TSourceFile {
public:
  explicit TSourceFile(platform::FileHandle h) noexcept : FHandle(h) {}
  ~TSourceFile() { platform::FileClose(FHandle); }
  TSourceFile(const TSourceFile&) = delete;
  TSourceFile& operator=(const TSourceFile&) = delete;
  platform::FileHandle Get() const noexcept { return FHandle; }

private:
  platform::FileHandle FHandle;
};

}  // namespace

// The closed archive for reading back: the kept handle, or the file opened anew by its name.
class TZELZipWriter::TReadBack {
public:
  explicit TReadBack(const TZELZipWriter& writer) {
    if (writer.FKeepOpen) {
      FHandle = writer.FHandle;
      return;
    }
    FHandle = platform::FileOpen(writer.FArchivePath, platform::FileAccess::Read,
                                 platform::FileDisposition::OpenExisting, platform::ShareRead, FError);
    FOwned = true;
  }
  ~TReadBack() {
    if (FOwned) platform::FileClose(FHandle);
  }
  TReadBack(const TReadBack&) = delete;
  TReadBack& operator=(const TReadBack&) = delete;
  platform::FileHandle Get() const { return FHandle; }
  unsigned Error() const { return FError; }

private:
  platform::FileHandle FHandle = platform::InvalidFile;
  unsigned FError = 0;
  bool FOwned = false;
};

struct TZELZipWriter::TDeflater {
  z_stream Stream{};
  TDeflater() {
    // Negative window bits: raw deflate, as ZIP stores it (no zlib header or trailer).
    if (deflateInit2(&Stream, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw EZipError(u"Cannot start the deflate coder");
  }
  ~TDeflater() { deflateEnd(&Stream); }
};

TZELZipWriter::TZELZipWriter(StringView archivePath, uint64_t limit)
    : FArchivePath(archivePath),
      FLimit(limit < kMaxOffset ? limit : kMaxOffset),
      FBuffer(kBufferSize),
      FInput(kBufferSize),
      FDeflater(std::make_unique<TDeflater>()) {
  unsigned error = 0;
  FHandle = platform::FileOpen(archivePath, platform::FileAccess::Write, platform::FileDisposition::CreateAlways,
                               platform::ShareRead, error);
  if (FHandle == platform::InvalidFile)
    throw EFCreateError(Format(u"Cannot create file \"%s\". %s", archivePath, platform::SystemErrorMessage(error)));
}

TZELZipWriter::TZELZipWriter(platform::FileHandle archive, StringView archivePath, uint64_t limit)
    : FArchivePath(archivePath),
      FLimit(limit < kMaxOffset ? limit : kMaxOffset),
      FHandle(archive),
      FBuffer(kBufferSize),
      FInput(kBufferSize),
      FDeflater(std::make_unique<TDeflater>()),
      FKeepOpen(true) {}

TZELZipWriter::~TZELZipWriter() {
  if (FHandle == platform::InvalidFile) return;
  try {
    if (!FBroken && !FClosed) FlushBuffer();
  } catch (...) {
    // A destructor cannot report; the archive is partial either way and Close was not called.
  }
  platform::FileClose(FHandle);
}

void TZELZipWriter::WriteFailed(unsigned code) {
  FBroken = true;
  throw EZipError(Format(u"Cannot write the archive \"%s\"", FArchivePath), code);
}

void TZELZipWriter::FlushBuffer() {
  size_t done = 0;
  while (done < FBufferLength) {
    const int64_t n = platform::FileWrite(FHandle, FBuffer.data() + done, FBufferLength - done);
    if (n <= 0) WriteFailed(n < 0 ? platform::LastErrorCode() : 0);
    done += size_t(n);
  }
  FPosition += FBufferLength;
  FBufferLength = 0;
}

void TZELZipWriter::Append(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    if (FBufferLength == FBuffer.size()) FlushBuffer();
    const size_t n = std::min(size, FBuffer.size() - FBufferLength);
    std::memcpy(FBuffer.data() + FBufferLength, p, n);
    FBufferLength += n;
    p += n;
    size -= n;
  }
}

// Cuts the archive back to position (the start of an entry that failed).
void TZELZipWriter::Discard(uint64_t position) {
  if (position >= FPosition) {
    FBufferLength = size_t(position - FPosition);
    return;
  }
  FBufferLength = 0;
  if (platform::FileSeek(FHandle, int64_t(position), 0) < 0 || !platform::FileTruncate(FHandle)) {
    FBroken = true;
    return;
  }
  FPosition = position;
}

void TZELZipWriter::AddFile(StringView sourcePath, StringView archiveName) {
  unsigned error = 0;
  const TSourceFile source(platform::FileOpen(sourcePath, platform::FileAccess::Read,
                                              platform::FileDisposition::OpenExisting, platform::ShareRead, error));
  if (source.Get() == platform::InvalidFile)
    throw EZipError(Format(u"Cannot open the file \"%s\" for reading", sourcePath), error);
  AddFile(source.Get(), sourcePath, archiveName);
}

void TZELZipWriter::AddFile(platform::FileHandle source, StringView sourcePath, StringView archiveName) {
  if (FClosed) throw EZipError(Format(u"The archive \"%s\" is already closed", FArchivePath));
  if (FBroken) throw EZipError(Format(u"The archive \"%s\" could not be written", FArchivePath));
  if (FEntries.size() >= kMaxEntries) throw EZipError(u"Too many files for one archive");
  TEntry e;
  if (StorableName(archiveName)) e.Name = ToUtf8(archiveName);
  if (e.Name.empty() || e.Name.size() > 0xFFFF)
    throw EZipError(Format(u"The name \"%s\" cannot be stored in the archive", archiveName));

  unsigned error = 0;
  platform::FileInformation info;
  if (!platform::FileGetInformation(source, info, error))
    throw EZipError(Format(u"Cannot read the attributes of \"%s\"", sourcePath), error);
  // Refused before anything is written; the count while reading catches a file that grows.
  if (info.Size > FLimit) throw EZipError(Format(u"The file \"%s\" is too large for the archive", sourcePath));
  e.LastWriteTime = info.LastWriteTime;
  e.LastAccessTime = info.LastAccessTime;
  e.CreationTime = info.CreationTime;
  e.Attributes = info.Attributes;
  SetDosTime(e);

  const uint64_t start = Size();
  const std::vector<uint8_t> header = LocalHeader(e);
  // The central directory with this entry must still fit behind the data.
  const uint64_t directory = FDirectoryEnd + CentralHeaderSize(e.Name);
  if (start + header.size() + directory > FLimit)
    throw EZipError(Format(u"The archive would grow too large with \"%s\"", sourcePath));
  e.Offset = uint32_t(start);
  Append(header.data(), header.size());

  z_stream& z = FDeflater->Stream;
  deflateReset(&z);
  uint32_t crc = crc32(0, nullptr, 0);
  uint64_t size = 0, compressed = 0;
  for (int flush = Z_NO_FLUSH; flush != Z_FINISH;) {
    const int64_t n = platform::FileRead(source, FInput.data(), FInput.size());
    if (n < 0) {
      error = platform::LastErrorCode();
      Discard(start);
      throw EZipError(Format(u"Cannot read the file \"%s\"", sourcePath), error);
    }
    if (n == 0) flush = Z_FINISH;
    size += uint64_t(n);
    if (size > FLimit) {
      Discard(start);
      throw EZipError(Format(u"The file \"%s\" is too large for the archive", sourcePath));
    }
    // CRC while the chunk is still in the cache: one pass over the bytes.
    crc = crc32(crc, FInput.data(), uInt(n));
    z.next_in = FInput.data();
    z.avail_in = uInt(n);
    int result;
    do {
      if (FBufferLength == FBuffer.size()) FlushBuffer();
      const size_t room = FBuffer.size() - FBufferLength;
      z.next_out = FBuffer.data() + FBufferLength;
      z.avail_out = uInt(room);
      result = deflate(&z, flush);
      if (result == Z_STREAM_ERROR) {
        Discard(start);
        throw EZipError(Format(u"Cannot compress the file \"%s\"", sourcePath));
      }
      const size_t produced = room - z.avail_out;
      FBufferLength += produced;
      compressed += produced;
    } while (z.avail_in > 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    if (start + header.size() + compressed + directory > FLimit) {
      Discard(start);
      throw EZipError(Format(u"The archive would grow too large with \"%s\"", sourcePath));
    }
  }
  e.Crc = crc;
  e.CompressedSize = uint32_t(compressed);
  e.Size = uint32_t(size);

  uint8_t fields[12];
  const uint32_t values[3] = {e.Crc, e.CompressedSize, e.Size};
  for (int i = 0; i < 12; ++i) fields[i] = uint8_t(values[i / 4] >> (8 * (i % 4)));
  if (start + kCrcFieldOffset >= FPosition) {
    // The header is still in the buffer (every entry smaller than the buffer): no seek.
    std::memcpy(FBuffer.data() + (start + kCrcFieldOffset - FPosition), fields, sizeof fields);
  } else {
    FlushBuffer();
    if (platform::FileSeek(FHandle, int64_t(start + kCrcFieldOffset), 0) < 0 ||
        platform::FileWrite(FHandle, fields, sizeof fields) != int64_t(sizeof fields) ||
        platform::FileSeek(FHandle, int64_t(FPosition), 0) < 0)
      WriteFailed(platform::LastErrorCode());
  }
  FDirectoryEnd = directory;
  FEntries.push_back(std::move(e));
}

void TZELZipWriter::Close() {
  if (FClosed) return;
  if (FBroken) throw EZipError(Format(u"The archive \"%s\" could not be written", FArchivePath));
  FDirectoryOffset = Size();
  std::vector<uint8_t> directory;
  directory.reserve(size_t(FDirectoryEnd) + kEndRecordSize);
  for (const TEntry& e : FEntries) PutCentralHeader(directory, e);
  const std::vector<uint8_t> end = EndRecord(FEntries.size(), directory.size(), FDirectoryOffset);
  directory.insert(directory.end(), end.begin(), end.end());
  Append(directory.data(), directory.size());
  FlushBuffer();
  // The old installation is deleted after this: the archive must be on the disk, not in a cache.
  if (!platform::FileFlush(FHandle)) WriteFailed(platform::LastErrorCode());
  if (!FKeepOpen) {
    platform::FileClose(FHandle);
    FHandle = platform::InvalidFile;
  }
  FEnd = FPosition;
  FClosed = true;
}

void TZELZipWriter::Verify() const {
  if (!FClosed) throw EZipError(Format(u"The archive \"%s\" is not closed", FArchivePath));
  auto fail = [this](StringView what, unsigned code = 0) {
    throw EZipError(Format(u"The archive \"%s\" does not read back as written: %s", FArchivePath, what), code);
  };
  const TReadBack file(*this);
  if (file.Get() == platform::InvalidFile) fail(u"it cannot be opened", file.Error());
  auto readAt = [&](uint64_t offset, size_t count) {
    std::vector<uint8_t> bytes(count);
    if (platform::FileSeek(file.Get(), int64_t(offset), 0) < 0) fail(u"it cannot be read", platform::LastErrorCode());
    size_t done = 0;
    while (done < count) {
      const int64_t n = platform::FileRead(file.Get(), bytes.data() + done, count - done);
      if (n < 0) fail(u"it cannot be read", platform::LastErrorCode());
      if (n == 0) fail(u"it is shorter than written");
      done += size_t(n);
    }
    return bytes;
  };

  const int64_t length = platform::FileSeek(file.Get(), 0, 2);
  if (length < 0) fail(u"it cannot be read", platform::LastErrorCode());
  if (uint64_t(length) != FEnd) fail(Format(u"it holds %d bytes instead of %d", int64_t(length), int64_t(FEnd)));

  const size_t directorySize = size_t(FEnd - FDirectoryOffset - kEndRecordSize);
  const std::vector<uint8_t> end = EndRecord(FEntries.size(), directorySize, FDirectoryOffset);
  if (readAt(FEnd - kEndRecordSize, kEndRecordSize) != end) fail(u"its end record differs");

  const std::vector<uint8_t> directory = readAt(FDirectoryOffset, directorySize);
  size_t at = 0;
  for (size_t i = 0; i < FEntries.size(); ++i) {
    const TEntry& e = FEntries[i];
    std::vector<uint8_t> expected;
    PutCentralHeader(expected, e);
    if (at + expected.size() > directory.size() ||
        std::memcmp(directory.data() + at, expected.data(), expected.size()) != 0)
      fail(Format(u"the directory entry of \"%s\" differs", FromUtf8(e.Name)));
    at += expected.size();
    if (readAt(e.Offset, kLocalHeaderSize + e.Name.size() + kNtfsExtraSize) != LocalHeader(e))
      fail(Format(u"the local header of \"%s\" differs", FromUtf8(e.Name)));
  }
  if (at != directory.size()) fail(u"its directory is longer than written");
}

void TZELZipWriter::VerifyContents() const {
  Verify();
  auto fail = [this](StringView what, unsigned code = 0) {
    throw EZipError(Format(u"The archive \"%s\" does not read back as written: %s", FArchivePath, what), code);
  };
  const TReadBack file(*this);
  if (file.Get() == platform::InvalidFile) fail(u"it cannot be opened", file.Error());
  struct TInflater {
    z_stream Stream{};
    TInflater() {
      if (inflateInit2(&Stream, -MAX_WBITS) != Z_OK) throw EZipError(u"Cannot start the inflate coder");
    }
    ~TInflater() { inflateEnd(&Stream); }
  } inflater;
  z_stream& z = inflater.Stream;
  std::vector<uint8_t> input(kBufferSize), output(kBufferSize);
  for (const TEntry& e : FEntries) {
    const String name = FromUtf8(e.Name);
    const uint64_t data = uint64_t(e.Offset) + kLocalHeaderSize + e.Name.size() + kNtfsExtraSize;
    if (platform::FileSeek(file.Get(), int64_t(data), 0) < 0) fail(u"it cannot be read", platform::LastErrorCode());
    inflateReset(&z);
    uint32_t crc = crc32(0, nullptr, 0);
    uint64_t left = e.CompressedSize, size = 0;
    int result = Z_OK;
    while (result != Z_STREAM_END) {
      if (z.avail_in == 0) {
        if (left == 0) fail(Format(u"the data of \"%s\" ends early", name));
        const int64_t n = platform::FileRead(file.Get(), input.data(), size_t(std::min<uint64_t>(left, input.size())));
        if (n < 0) fail(u"it cannot be read", platform::LastErrorCode());
        if (n == 0) fail(u"it is shorter than written");
        left -= uint64_t(n);
        z.next_in = input.data();
        z.avail_in = uInt(n);
      }
      z.next_out = output.data();
      z.avail_out = uInt(output.size());
      result = inflate(&z, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END) fail(Format(u"the data of \"%s\" is damaged", name));
      const size_t produced = output.size() - z.avail_out;
      crc = crc32(crc, output.data(), uInt(produced));
      size += produced;
    }
    if (left != 0 || z.avail_in != 0 || size != e.Size || crc != e.Crc)
      fail(Format(u"the data of \"%s\" differs", name));
  }
}

}  // namespace zel
