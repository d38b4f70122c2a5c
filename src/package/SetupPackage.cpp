#include "package/SetupPackage.h"

#include <cstring>

#include "library/Crc32.h"
#include "library/Rc4.h"
#include "package/Lzma.h"

namespace kivo {

using namespace zel;

namespace {

// Smallest possible table entry: name length, empty name, Offset, Size.
constexpr int64_t kMinEntrySize = 2 + 8 + 8;

uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

template <typename T>
T ReadLE(TStream& stream) {
  uint8_t bytes[sizeof(T)];
  stream.ReadBuffer(bytes, sizeof(T));
  uint64_t v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= uint64_t(bytes[i]) << (8 * i);
  return static_cast<T>(v);
}

template <typename T>
void AppendLE(std::vector<uint8_t>& out, T value) {
  const auto v = static_cast<uint64_t>(value);
  for (size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void InitCipher(TRC4& rc4, int32_t key) {
  uint8_t bytes[4];
  PutLE32(bytes, static_cast<uint32_t>(key));
  rc4.Init(bytes, sizeof(bytes));
}

}  // namespace

// --- TSetupPackageFileTable

TSetupPackageFileTableItem& TSetupPackageFileTable::Add() {
  FIndexed.store(false, std::memory_order_relaxed);
  return FItems.emplace_back();
}

void TSetupPackageFileTable::Clear() {
  FItems.clear();
  FIndex.clear();
  FIndexed.store(false, std::memory_order_relaxed);
}

String TSetupPackageFileTable::NameKey(StringView name) { return UpperCase(name); }

namespace {

// FNV-1a over the key's code units.
size_t HashKey(StringView key) {
  uint64_t h = 14695981039346656037ull;
  for (char16_t c : key) {
    h = (h ^ (c & 0xFF)) * 1099511628211ull;
    h = (h ^ (c >> 8)) * 1099511628211ull;
  }
  return static_cast<size_t>(h ^ (h >> 32));
}

}  // namespace

void TSetupPackageFileTable::BuildIndex() const {
  size_t slots = 16;
  while (slots < FItems.size() * 2) slots *= 2;
  FIndex.assign(slots, -1);
  const size_t mask = slots - 1;
  for (size_t i = 0; i < FItems.size(); ++i) {
    const String& name = FItems[i].Name;
    // Of equal names only the first goes in: it is the one Find returns.
    for (size_t at = HashKey(NameKey(name)) & mask;; at = (at + 1) & mask) {
      const int32_t there = FIndex[at];
      if (there < 0) {
        FIndex[at] = static_cast<int32_t>(i);
        break;
      }
      if (SameText(FItems[static_cast<size_t>(there)].Name, name)) break;
    }
  }
}

const TSetupPackageFileTableItem* TSetupPackageFileTable::Find(StringView name) const {
  if (FItems.empty()) return nullptr;
  if (!FIndexed.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(FIndexLock);
    if (!FIndexed.load(std::memory_order_relaxed)) {
      BuildIndex();
      FIndexed.store(true, std::memory_order_release);
    }
  }
  const size_t mask = FIndex.size() - 1;
  for (size_t at = HashKey(NameKey(name)) & mask;; at = (at + 1) & mask) {
    const int32_t there = FIndex[at];
    if (there < 0) return nullptr;
    const TSetupPackageFileTableItem& item = FItems[static_cast<size_t>(there)];
    if (item.Name.size() == name.size() && SameText(item.Name, name)) return &item;
  }
}

bool TSetupPackageFileTable::Find(StringView name, const TSetupPackageFileTableItem*& item) const {
  const TSetupPackageFileTableItem* found = Find(name);
  if (found) item = found;
  return found != nullptr;
}

void TSetupPackageFileTable::LoadFromStream(TStream& stream) {
  const int32_t count = ReadLE<int32_t>(stream);
  if (count <= 0) return;
  // Every entry takes at least kMinEntrySize bytes: a count the stream cannot hold is
  // refused here instead of after reserving room for billions of items.
  const int64_t remaining = stream.Size() - stream.Position();
  if (count > remaining / kMinEntrySize) throw EReadError();
  FItems.reserve(FItems.size() + static_cast<size_t>(count));
  std::vector<uint8_t> nameBytes;
  for (int32_t n = 0; n < count; ++n) {
    const uint16_t length = ReadLE<uint16_t>(stream);
    nameBytes.resize(size_t(length) * 2);
    stream.ReadBuffer(nameBytes.data(), nameBytes.size());
    String name(length, u'\0');
    for (size_t i = 0; i < length; ++i) name[i] = static_cast<char16_t>(nameBytes[2 * i] | (nameBytes[2 * i + 1] << 8));
    const int64_t offset = ReadLE<int64_t>(stream);
    const int64_t size = ReadLE<int64_t>(stream);
    TSetupPackageFileTableItem& item = Add();
    item.Name = std::move(name);
    item.Offset = offset;
    item.Size = size;
  }
}

void TSetupPackageFileTable::SaveToStream(TStream& stream) const {
  std::vector<uint8_t> out;
  AppendLE<int32_t>(out, Count());
  for (const TSetupPackageFileTableItem& item : FItems) {
    // The length field is 16 bits wide: a longer name would corrupt every entry after it.
    if (item.Name.size() > 0xFFFF) throw EInvalidOperation(u"Package member name is longer than 65535 characters");
    AppendLE<uint16_t>(out, static_cast<uint16_t>(item.Name.size()));
    for (char16_t c : item.Name) AppendLE<uint16_t>(out, c);
    AppendLE<int64_t>(out, item.Offset);
    AppendLE<int64_t>(out, item.Size);
  }
  stream.WriteBuffer(out.data(), out.size());
}

// --- TCustomSetupPackage

TCustomSetupPackage::TCustomSetupPackage() : FPayload(std::make_unique<TMemoryStream>()) {}
TCustomSetupPackage::~TCustomSetupPackage() = default;

// --- TSetupPackageReader

TSetupPackageReader::TSetupPackageReader(TStream& source, std::unique_ptr<TSetupPackageStore> store) {
  FStore = std::move(store);
  Open(source);
}

TSetupPackageReader::TSetupPackageReader(StringView fileName) {
  TFileStream stream(fileName, FileMode::OpenRead, platform::ShareRead | platform::ShareWrite);
  Open(stream);
}

void TSetupPackageReader::Open(TStream& source) {
  uint8_t header[kSetupPackageHeaderSize];
  source.ReadBuffer(header, sizeof(header));
  if (std::memcmp(header, kSetupPackageMagic, sizeof(kSetupPackageMagic)) != 0) throw ESetupPackageReadError();
  const uint32_t checksum = GetLE32(header + 4);
  const uint32_t payloadSize = GetLE32(header + 8);
  if (FStore) {
    OpenStored(source, checksum, payloadSize);
    return;
  }

  TRC4 rc4;
  InitCipher(rc4, kSetupPackageKey);
  std::vector<uint8_t> payload;
  // The checksum runs over each block as it is decoded, so the payload is walked once.
  // Code 1 (bad or missing data) returns normally: the length and checksum tests below
  // turn it into "Package was corrupted", in that order, before anyone sees a member.
  TZELHashCRC32 crc;
  LzmaDecompressToMemory(
      source, [&rc4](uint8_t* data, size_t size) { rc4.Crypt(data, data, size); }, payloadSize, payload,
      [&crc](const uint8_t* data, size_t size) { crc.Update(data, size); });
  if (payload.size() != payloadSize) throw ESetupPackageReadError();
  if (crc.Value() != checksum) throw ESetupPackageReadError();
  FPayload = std::make_unique<TMemoryStream>(std::move(payload));

  // The table size sits in the last 4 bytes; the table ends just before it.
  if (payloadSize < 4) throw EReadError();
  const uint32_t tableSize = GetLE32(FPayload->Memory() + payloadSize - 4);
  if (uint64_t(tableSize) + 4 > payloadSize) throw EReadError();
  FPayload->SetPosition(int64_t(payloadSize) - 4 - tableSize);
  FFileTable.LoadFromStream(*FPayload);
  FPayload->SetPosition(0);
}

void TSetupPackageReader::OpenStored(TStream& source, uint32_t checksum, uint32_t payloadSize) {
  // The same checks in the same order as in memory; the store sees every byte once.
  TRC4 rc4;
  InitCipher(rc4, kSetupPackageKey);
  TZELHashCRC32 crc;
  FStore->Begin(payloadSize);
  uint64_t written = 0;
  const int code = LzmaDecompressToSink(
      source, [&rc4](uint8_t* data, size_t size) { rc4.Crypt(data, data, size); }, payloadSize,
      [&](const uint8_t* data, size_t size) {
        crc.Update(data, size);
        FStore->Write(data, size);
        written += size;
      });
  if (code != 0 || written != payloadSize) throw ESetupPackageReadError();
  if (crc.Value() != checksum) throw ESetupPackageReadError();
  if (payloadSize < 4) throw EReadError();
  FStore->Finish();
  FStoredSize = payloadSize;

  const TSetupPackageMemberView last = FStore->View(payloadSize - 4, 4);
  const uint32_t tableSize = GetLE32(last.Data);
  if (uint64_t(tableSize) + 4 > payloadSize) throw EReadError();
  const TSetupPackageMemberView table = FStore->View(payloadSize - 4 - tableSize, tableSize);
  TReadOnlyMemoryStream stream(table.Data, table.Size);
  FFileTable.LoadFromStream(stream);
}

TSetupPackageMemberView TSetupPackageReader::ItemView(const TSetupPackageFileTableItem& item) const {
  // Offset and Size come from the package: a consistent checksum does not make them sane.
  const int64_t payloadSize = PayloadSize();
  if (item.Offset < 0 || item.Size < 0 || item.Offset > payloadSize || item.Size > payloadSize - item.Offset)
    throw ESetupPackageReadError();
  if (FStore) return FStore->View(static_cast<uint64_t>(item.Offset), static_cast<size_t>(item.Size));
  return {FPayload->Memory() + item.Offset, static_cast<size_t>(item.Size), nullptr};
}

bool TSetupPackageReader::FileView(StringView name, TSetupPackageMemberView& view) const {
  const TSetupPackageFileTableItem* item = FFileTable.Find(name);
  if (!item) return false;
  view = ItemView(*item);
  return true;
}

std::unique_ptr<TMemoryStream> TSetupPackageReader::ExtractItem(const TSetupPackageFileTableItem& item) const {
  const TSetupPackageMemberView view = ItemView(item);
  return std::make_unique<TMemoryStream>(std::vector<uint8_t>(view.Data, view.Data + view.Size));
}

bool TSetupPackageReader::ExtractFile(StringView name, std::unique_ptr<TMemoryStream>& stream) const {
  const TSetupPackageFileTableItem* item = FFileTable.Find(name);
  if (!item) return false;
  stream = ExtractItem(*item);
  return true;
}

std::unique_ptr<TMemoryStream> TSetupPackageReader::ExtractFile(StringView name) const {
  const TSetupPackageFileTableItem* item = FFileTable.Find(name);
  return item ? ExtractItem(*item) : nullptr;
}

// --- TSetupPackageBuilder

TSetupPackageBuilder::TSetupPackageBuilder(int32_t key) { PutLE32(FKey, static_cast<uint32_t>(key)); }

void TSetupPackageBuilder::AddFile(TStream& source, StringView name) {
  if (FCommitted) throw EInvalidOperation(u"The package has already been written");
  const int64_t size = source.Size();
  const int64_t offset = FPayload->Size();
  // Read straight into the payload; a short source leaves neither bytes nor an entry.
  FPayload->SetSize(offset + size);
  try {
    source.ReadBuffer(FPayload->Memory() + offset, static_cast<size_t>(size));
  } catch (...) {
    FPayload->SetSize(offset);
    throw;
  }
  TSetupPackageFileTableItem& item = FFileTable.Add();
  item.Name = String(name);
  item.Offset = offset;
  item.Size = size;
}

void TSetupPackageBuilder::Commit(TStream& dest, int level) {
  // Commit appends the directory to the payload: a second call would append it again.
  if (FCommitted) throw EInvalidOperation(u"The package has already been written");
  FCommitted = true;

  TMemoryStream table;
  FFileTable.SaveToStream(table);
  FPayload->Seek(0, SeekOrigin::End);
  FPayload->WriteBuffer(table.Memory(), static_cast<size_t>(table.Size()));
  uint8_t tableSize[4];
  PutLE32(tableSize, static_cast<uint32_t>(table.Size()));
  FPayload->WriteBuffer(tableSize, sizeof(tableSize));
  // The header's size field is 32 bits and readers demand an exact match.
  if (FPayload->Size() > int64_t(UINT32_MAX)) throw EInvalidOperation(u"Package payload exceeds 4 GiB");

  uint8_t header[kSetupPackageHeaderSize];
  std::memcpy(header, kSetupPackageMagic, sizeof(kSetupPackageMagic));
  PutLE32(header + 4, TZELHashCRC32::Compute(FPayload->Memory(), static_cast<size_t>(FPayload->Size())));
  PutLE32(header + 8, static_cast<uint32_t>(FPayload->Size()));
  dest.WriteBuffer(header, sizeof(header));

  TRC4 rc4;
  rc4.Init(FKey, sizeof(FKey));
  FPayload->SetPosition(0);
  LzmaCompress(*FPayload, dest, level, [&rc4](uint8_t* data, size_t size) { rc4.Crypt(data, data, size); });
}

void TSetupPackageBuilder::Commit(StringView fileName, int level) {
  TFileStream stream(fileName, FileMode::Create);
  Commit(stream, level);
}

}  // namespace kivo
