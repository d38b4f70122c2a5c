#pragma once
// The backup archive: a ZIP file written by the program itself, the data deflated by zlib.
//
// Layout (all numbers little-endian; no ZIP64, so every size and offset stays below 2^32 - 1):
//   per entry, in the order added:
//     local header   30 bytes: "PK\3\4", version needed 20, flags 0x0800 (UTF-8 name), method 8
//                    (deflate), DOS time, DOS date, CRC-32, compressed size, size, name length,
//                    extra length 36; then the name and the NTFS extra field
//     data           raw deflate stream (no zlib header)
//   CRC and sizes are written into the local header after the data (seek back), so no data
//   descriptors follow the data.
//   central directory, one 46-byte header per entry: "PK\1\2", version made by 0x0014 (MS-DOS,
//     2.0), the local header's fields, comment length 0, disk 0, internal attributes 0,
//     external attributes (the Windows attributes' low byte), the local header's offset; then
//     name and NTFS extra field
//   end record   22 bytes: "PK\5\6", disk numbers 0, entry counts, directory size and offset,
//                comment length 0
// NTFS extra field (tag 0x000A, 32 bytes): 4 reserved, attribute tag 1 of 24 bytes holding the
//   last-write, last-access and creation times as UTC ticks of 100 ns since 1601.
// The DOS time is the last-write time in local time, seconds rounded down to even.
//
// Checked by Verify: the end record, the central directory byte for byte, and each local
// header byte for byte, against what was written; by VerifyContents also every entry's data.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "library/Exceptions.h"
#include "platform/Platform.h"

namespace zel {

// A failure while writing an archive; Message() says what, OSErrorCode() the last OS error (0
// when none). The OS text for the code is the caller's to add.
class EZipError : public Exception {
public:
  EZipError(String message, unsigned osErrorCode = 0) : Exception(std::move(message)), FOSErrorCode(osErrorCode) {}
  unsigned OSErrorCode() const noexcept { return FOSErrorCode; }

private:
  unsigned FOSErrorCode;
};

class TZELZipWriter {
public:
  // The largest size or offset a ZIP without ZIP64 can hold (0xFFFFFFFF itself means "see
  // ZIP64" to readers), and its entry count.
  static constexpr uint64_t kMaxOffset = 0xFFFFFFFEu;
  static constexpr size_t kMaxEntries = 0xFFFF;

  // Creates the archive new (an existing file is replaced). Raises EFCreateError on failure.
  // limit: the most bytes the archive may hold before its end record, and so the largest size
  // or offset in it (lower only in tests).
  explicit TZELZipWriter(StringView archivePath, uint64_t limit = kMaxOffset);
  // Writes into a file the caller has made (opened for reading and writing, empty) and owns
  // it from here; archivePath only names it in messages. The handle stays open after Close,
  // for Verify and for the caller's rename (Handle()), until the writer goes.
  TZELZipWriter(platform::FileHandle archive, StringView archivePath, uint64_t limit = kMaxOffset);
  // Closes the file without a central directory when Close() was not called (partial archive):
  // the complete entries written so far are on disk.
  ~TZELZipWriter();
  TZELZipWriter(const TZELZipWriter&) = delete;
  TZELZipWriter& operator=(const TZELZipWriter&) = delete;

  // Adds the file under archiveName exactly as given ("\" separators kept), deflated; the entry
  // records the file's last-write time (DOS local time + an NTFS extra field with exact UTC
  // times) and its attributes. The source is opened for reading while other writers are denied.
  // Raises EZipError on any failure (open, read, write, a size past the limit, a 65,536th
  // entry, a name with no UTF-8 form), with the OS code. After a failure to read the source the archive is as before the call (the entry's
  // bytes are cut off again) and more files may be added; after a failure to write the archive
  // every later call fails.
  void AddFile(StringView sourcePath, StringView archiveName);
  // The same from a file the caller has opened for reading (and keeps); sourcePath names it
  // in messages.
  void AddFile(platform::FileHandle source, StringView sourcePath, StringView archiveName);
  // Writes the central directory and end record, flushes the file to disk and closes it.
  void Close();
  // Reads the closed archive's central directory back from disk and checks that every entry
  // added is present with the name, sizes, CRC-32 and header offset as written (and each local
  // header agrees). Raises EZipError otherwise.
  void Verify() const;
  // Verify, then reads every entry's data back and inflates it: each must end where its
  // compressed size says, with the size and CRC-32 written. Raises EZipError otherwise.
  void VerifyContents() const;
  size_t Count() const { return FEntries.size(); }
  const String& ArchivePath() const { return FArchivePath; }
  platform::FileHandle Handle() const { return FHandle; }
  // Bytes written to the archive so far.
  uint64_t Size() const { return FPosition + FBufferLength; }

  // One entry as written (the central directory's fields).
  struct TEntry {
    std::string Name;  // UTF-8
    uint32_t Crc = 0;
    uint32_t CompressedSize = 0;
    uint32_t Size = 0;
    uint32_t Offset = 0;
    uint16_t DosTime = 0;
    uint16_t DosDate = 0;
    uint32_t Attributes = 0;
    int64_t LastWriteTime = 0;
    int64_t LastAccessTime = 0;
    int64_t CreationTime = 0;
  };
  const std::vector<TEntry>& Entries() const { return FEntries; }

private:
  struct TDeflater;
  class TReadBack;
  void Append(const void* data, size_t size);
  void FlushBuffer();
  void Discard(uint64_t position);
  void Check(uint64_t position, StringView what) const;
  [[noreturn]] void WriteFailed(unsigned code);

  String FArchivePath;
  uint64_t FLimit;
  platform::FileHandle FHandle = platform::InvalidFile;
  std::vector<uint8_t> FBuffer;  // output not yet written
  size_t FBufferLength = 0;
  uint64_t FPosition = 0;       // file offset of FBuffer[0]
  std::vector<uint8_t> FInput;  // one read of the source
  std::unique_ptr<TDeflater> FDeflater;
  std::vector<TEntry> FEntries;
  uint64_t FDirectoryEnd = 0;  // central directory bytes of the entries so far
  uint64_t FDirectoryOffset = 0;
  uint64_t FEnd = 0;     // file size once closed
  bool FBroken = false;  // a write failed: the file's content is unknown
  bool FClosed = false;
  bool FKeepOpen = false;  // the file was handed in: kept open for reading back
};

}  // namespace zel
