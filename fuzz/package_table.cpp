// Builds a valid package around the fuzz bytes, so that the checksum passes and the file
// table and the members' bounds are what gets fuzzed. The first byte chooses the form:
// even, the bytes are member data and a table, and the table size is appended (the table
// parser always runs); odd, the bytes are the whole payload, table size included.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "library/Crc32.h"
#include "library/Exceptions.h"
#include "library/Rc4.h"
#include "library/Streams.h"
#include "package/Lzma.h"
#include "package/SetupPackage.h"

using namespace zel;
using namespace kivo;

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> Package(const std::vector<uint8_t>& payload) {
  TMemoryStream out;
  uint8_t header[kSetupPackageHeaderSize];
  std::memcpy(header, kSetupPackageMagic, 4);
  PutLE32(header + 4, TZELHashCRC32::Compute(payload.data(), payload.size()));
  PutLE32(header + 8, static_cast<uint32_t>(payload.size()));
  out.WriteBuffer(header, sizeof(header));
  uint8_t key[4];
  PutLE32(key, static_cast<uint32_t>(kSetupPackageKey));
  TRC4 rc4;
  rc4.Init(key, sizeof(key));
  TMemoryStream source(payload);
  LzmaCompress(source, out, 0, [&rc4](uint8_t* data, size_t size) { rc4.Crypt(data, data, size); });
  return out.Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 8192) return 0;
  std::vector<uint8_t> payload(data + 1, data + size);
  if (data[0] % 2 == 0) {
    // The table is the last third of the bytes.
    const size_t tableSize = payload.size() / 3;
    uint8_t tail[4];
    PutLE32(tail, static_cast<uint32_t>(tableSize));
    payload.insert(payload.end(), tail, tail + 4);
  }
  const std::vector<uint8_t> package = Package(payload);
  try {
    TReadOnlyMemoryStream stream(package.data(), package.size());
    TSetupPackageReader reader(stream);
    const TSetupPackageFileTable& table = reader.FileTable();
    for (int i = 0; i < table.Count(); ++i) {
      const TSetupPackageFileTableItem& item = table.Items(i);
      const TSetupPackageFileTableItem* first = table.Find(item.Name);
      Check(first != nullptr && SameText(first->Name, item.Name));
      const bool inside = item.Offset >= 0 && item.Size >= 0 && item.Offset <= int64_t(payload.size()) &&
                          item.Size <= int64_t(payload.size()) - item.Offset;
      try {
        const auto member = reader.ExtractItem(item);
        // What is served is exactly the payload's bytes at the entry's place.
        Check(inside && member->Size() == item.Size && member->Position() == 0);
        Check(item.Size == 0 || std::memcmp(member->Memory(), payload.data() + item.Offset, size_t(item.Size)) == 0);
      } catch (const ESetupPackageReadError&) {
        Check(!inside);
      }
    }
  } catch (const EReadError&) {
    // A table that runs outside the payload.
  }
  return 0;
}
