#pragma once
// IPK5 setup packages: the one place that knows the format, shared by the reader (the
// setup program) and the builder (the package tool, the uninstall registration).
//
// File (or resource), integers little-endian:
//   offset 0   4 bytes  magic "IPK5" (49 50 4B 35)                  checked: reader
//   offset 4   4 bytes  CRC-32 of the decoded payload (Crc32.h)    checked: reader, as it decodes
//   offset 8   4 bytes  payload size in bytes, unsigned            checked: reader, exact match
//   offset 12  rest     body: one RC4 keystream (key = kSetupPackageKey as 4 little-endian
//                       bytes) over an LZMA1 stream: 5 property bytes, then the coded
//                       data without end marker (Lzma.h). Bytes after the payload's
//                       worth of coded data are ignored.
// Decoded payload:
//   member data   each member's bytes in the order added, no padding
//   file table    int32 count (<= 0: none), then per entry:
//                   uint16 name length in UTF-16 units, the name (UTF-16LE, no terminator),
//                   int64 Offset (from the payload's start), int64 Size
//   table size    uint32: bytes of the file table (count and entries), not counting itself
// What fails how: wrong magic, a decoded length other than the header's or a CRC mismatch
// raise ESetupPackageReadError ("Package was corrupted"); a short header or a table that
// runs outside the payload raise EReadError ("Stream read error"); LZMA failures other
// than bad data raise EInvalidOperation ("LZMA Error (%d)"). A member whose Offset/Size
// lie outside the payload is refused by ExtractFile and FileView with ESetupPackageReadError.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "library/Exceptions.h"
#include "library/Streams.h"
#include "library/Strings.h"

namespace kivo {

constexpr uint8_t kSetupPackageMagic[4] = {'I', 'P', 'K', '5'};
constexpr size_t kSetupPackageHeaderSize = 12;
// The RC4 key of every package the program reads or writes.
constexpr int32_t kSetupPackageKey = 0x6D2B9A17;
// The level the program builds its packages at.
constexpr int kSetupPackageDefaultLevel = 4;

class ESetupPackageReadError : public zel::Exception {
public:
  ESetupPackageReadError() : Exception(u"Package was corrupted") {}
};

struct TSetupPackageFileTableItem {
  zel::String Name;
  int64_t Offset = 0;
  int64_t Size = 0;
};

class TSetupPackageFileTable {
public:
  TSetupPackageFileTable() = default;
  TSetupPackageFileTable(const TSetupPackageFileTable&) = delete;
  TSetupPackageFileTable& operator=(const TSetupPackageFileTable&) = delete;

  // A new empty item at the end, owned by the table. The reference (like those from
  // Items and Find) stays valid until the next Add or Clear.
  TSetupPackageFileTableItem& Add();
  // The first item in table order whose name equals name (case-insensitive under the
  // user's locale, equal length), or nullptr. Found through a hash index of NameKey
  // that the first lookup builds, so a lookup costs the same at any table size.
  const TSetupPackageFileTableItem* Find(zel::StringView name) const;
  bool Find(zel::StringView name, const TSetupPackageFileTableItem*& item) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  const TSetupPackageFileTableItem& Items(int index) const { return FItems.at(static_cast<size_t>(index)); }
  void Clear();

  // The case-folded form under which Find indexes names: names that Find takes as equal
  // have equal keys, so a hash set of keys de-duplicates the way Find does.
  static zel::String NameKey(zel::StringView name);

  // Reads the count and the entries from the stream's position. A count the remaining
  // bytes cannot hold raises EReadError before anything is allocated, so the items never
  // take more than a small multiple of the table's bytes.
  void LoadFromStream(zel::TStream& stream);
  void SaveToStream(zel::TStream& stream) const;

private:
  void BuildIndex() const;

  // Plain items, not one heap object each: a table of empty names takes 48 bytes per
  // 18-byte entry instead of 72 and no allocator overhead.
  std::vector<TSetupPackageFileTableItem> FItems;
  // Open addressing over item indices (-1 empty), a power of two at least twice the
  // count; built on the first Find after a change. Find may run on several threads.
  mutable std::vector<int32_t> FIndex;
  mutable std::atomic<bool> FIndexed{false};
  mutable std::mutex FIndexLock;
};

// A member's bytes where they lie in a reader's payload: no copy, valid while the reader
// lives (readers do not change after opening) and, for a payload held outside memory,
// while this view or a copy of it lives.
struct TSetupPackageMemberView {
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  // What keeps the bytes in place (a mapped view of a stored payload); empty in memory.
  std::shared_ptr<const void> Hold;
};

// Where a reader keeps a payload too large for its memory. The reader writes the decoded
// bytes once, in order, then reads members through views. Raising from Begin or Write
// ends the opening with that exception.
class TSetupPackageStore {
public:
  virtual ~TSetupPackageStore() = default;
  // Before the first Write: the size the package's header announces (not yet checked).
  virtual void Begin(uint64_t size) = 0;
  virtual void Write(const uint8_t* data, size_t size) = 0;
  // After the last Write, once the payload checked out: from here on only views.
  virtual void Finish() = 0;
  // size bytes from offset, which lie inside the payload; valid while the view lives.
  virtual TSetupPackageMemberView View(uint64_t offset, size_t size) const = 0;
};

class TCustomSetupPackage {
public:
  TCustomSetupPackage();
  virtual ~TCustomSetupPackage();
  TCustomSetupPackage(const TCustomSetupPackage&) = delete;
  TCustomSetupPackage& operator=(const TCustomSetupPackage&) = delete;

  const TSetupPackageFileTable& FileTable() const { return FFileTable; }
  // The payload in memory: empty for a reader that keeps it in a store.
  const zel::TMemoryStream& Payload() const { return *FPayload; }
  int64_t PayloadSize() const { return FStore ? FStoredSize : FPayload->Size(); }

protected:
  TSetupPackageFileTable FFileTable;
  std::unique_ptr<zel::TMemoryStream> FPayload;
  std::unique_ptr<TSetupPackageStore> FStore;
  int64_t FStoredSize = 0;
};

class TSetupPackageReader : public TCustomSetupPackage {
public:
  // Decodes the package that starts at the stream's position; the stream stays the caller's.
  // With a store the payload goes there as it decodes instead of into memory.
  explicit TSetupPackageReader(zel::TStream& source, std::unique_ptr<TSetupPackageStore> store = nullptr);
  // Opens the file for reading while others may read and write it, decodes, closes it.
  explicit TSetupPackageReader(zel::StringView fileName);
#ifdef _WIN32
  // An RT_RCDATA resource of a module (an HMODULE; opaque here so that this header
  // stays free of <windows.h>). Defined in win/SetupPackageResource.cpp.
  using TModuleInstance = void*;
  TSetupPackageReader(TModuleInstance instance, zel::StringView resourceName,
                      std::unique_ptr<TSetupPackageStore> store = nullptr);
  // Where the resource bytes mapped at data lie in the module's file, by its section
  // headers; 0 when they cannot be placed (then the mapping is read instead).
  static int64_t ResourceFileOffset(TModuleInstance instance, const void* data, size_t size);
#endif

  bool ContainsFile(zel::StringView name) const { return FFileTable.Find(name) != nullptr; }
  // False when absent (stream left untouched); otherwise a new stream, positioned at 0,
  // holding a copy of the member. Does not move any shared position, so concurrent
  // extractions from one reader are safe.
  bool ExtractFile(zel::StringView name, std::unique_ptr<zel::TMemoryStream>& stream) const;
  // The member's copy, or nullptr when absent.
  std::unique_ptr<zel::TMemoryStream> ExtractFile(zel::StringView name) const;
  // The copy of one table item (which must belong to this reader's table).
  std::unique_ptr<zel::TMemoryStream> ExtractItem(const TSetupPackageFileTableItem& item) const;
  // The member's bytes without a copy: false when absent (view left untouched). Refused
  // like ExtractFile when the table places the member outside the payload.
  bool FileView(zel::StringView name, TSetupPackageMemberView& view) const;
  TSetupPackageMemberView ItemView(const TSetupPackageFileTableItem& item) const;

private:
  void Open(zel::TStream& source);
  void OpenStored(zel::TStream& source, uint32_t checksum, uint32_t payloadSize);
};

class TSetupPackageBuilder : public TCustomSetupPackage {
public:
  // The key's 4 little-endian bytes become the RC4 key.
  explicit TSetupPackageBuilder(int32_t key);

  // Appends the source's Size() bytes, read from its position (callers rewind it). Names
  // are stored as given; duplicates are allowed and readers find the first.
  void AddFile(zel::TStream& source, zel::StringView name);
  // Writes the whole package at an LZMA level 0..9. Once per builder.
  void Commit(zel::TStream& dest, int level);
  // Creates (replaces) the file and commits into it.
  void Commit(zel::StringView fileName, int level);

private:
  uint8_t FKey[4];
  bool FCommitted = false;
};

}  // namespace kivo
