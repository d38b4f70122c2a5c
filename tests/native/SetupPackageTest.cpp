#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "library/Crc32.h"
#include "library/Rc4.h"
#include "library/Streams.h"
#include "package/Lzma.h"
#include "package/SetupPackage.h"

using namespace zel;
using namespace kivo;
using kivo::test::Bytes;

namespace {

using TMembers = std::vector<std::pair<String, std::vector<uint8_t>>>;
using TBytes = std::vector<uint8_t>;

TBytes BuildPackage(const TMembers& members, int level = kSetupPackageDefaultLevel) {
  TSetupPackageBuilder builder(kSetupPackageKey);
  for (const auto& [name, bytes] : members) {
    TMemoryStream source(bytes);
    builder.AddFile(source, name);
  }
  TMemoryStream out;
  builder.Commit(out, level);
  return out.Bytes();
}

std::unique_ptr<TSetupPackageReader> Open(const TBytes& package) {
  TReadOnlyMemoryStream stream(package.data(), package.size());
  return std::make_unique<TSetupPackageReader>(stream);
}

TBytes Cipher(const uint8_t* data, size_t size) {
  const uint8_t key[4] = {0x17, 0x9A, 0x2B, 0x6D};
  TRC4 rc4;
  rc4.Init(key, sizeof(key));
  TBytes out(size);
  rc4.Crypt(data, out.data(), size);
  return out;
}

// The deciphered body (property bytes and LZMA data) of a package.
TBytes Body(const TBytes& package) { return Cipher(package.data() + 12, package.size() - 12); }

void PutLE32(TBytes& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A package with a consistent header around any payload, to reach the table code with
// damage the checksum does not catch.
TBytes WrapPayload(const TBytes& payload) {
  TMemoryStream source(payload), coded;
  LzmaCompress(source, coded, 4, nullptr);
  TBytes package = Bytes("IPK5");
  package.resize(12);
  PutLE32(package, 4, TZELHashCRC32::Compute(payload.data(), payload.size()));
  PutLE32(package, 8, static_cast<uint32_t>(payload.size()));
  const TBytes body = Cipher(coded.Memory(), coded.Bytes().size());
  package.insert(package.end(), body.begin(), body.end());
  return package;
}

// A payload laid out by hand: member data, then the table bytes, then the table size.
TBytes Payload(const TBytes& data, const TBytes& table) {
  TBytes payload = data;
  payload.insert(payload.end(), table.begin(), table.end());
  payload.resize(payload.size() + 4);
  PutLE32(payload, payload.size() - 4, static_cast<uint32_t>(table.size()));
  return payload;
}

TBytes Entry(std::u16string_view name, int64_t offset, int64_t size) {
  TBytes e;
  e.push_back(static_cast<uint8_t>(name.size()));
  e.push_back(static_cast<uint8_t>(name.size() >> 8));
  for (char16_t c : name) e.push_back(static_cast<uint8_t>(c)), e.push_back(static_cast<uint8_t>(c >> 8));
  for (int64_t v : {offset, size})
    for (int i = 0; i < 8; ++i) e.push_back(static_cast<uint8_t>(uint64_t(v) >> (8 * i)));
  return e;
}

TBytes Table(int32_t count, const std::vector<TBytes>& entries) {
  TBytes t(4);
  PutLE32(t, 0, static_cast<uint32_t>(count));
  for (const TBytes& e : entries) t.insert(t.end(), e.begin(), e.end());
  return t;
}

TBytes Mixed(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  TBytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = (i / 512) % 2 ? static_cast<uint8_t>(rng()) : "setup"[i % 5];
  return bytes;
}

// Keeps the payload as a store would, each view a copy of its own, so that a reader that
// reaches past a view or keeps none is caught.
struct TVectorStore : TSetupPackageStore {
  TBytes Data;
  uint64_t Announced = 0;
  bool Finished = false;
  void Begin(uint64_t size) override { Announced = size; }
  void Write(const uint8_t* data, size_t size) override {
    if (Finished) throw EInvalidOperation(u"written after Finish");
    Data.insert(Data.end(), data, data + size);
  }
  void Finish() override { Finished = true; }
  TSetupPackageMemberView View(uint64_t offset, size_t size) const override {
    if (!Finished || offset + size > Data.size()) throw EInvalidOperation(u"view outside the payload");
    auto copy = std::make_shared<TBytes>(Data.begin() + static_cast<ptrdiff_t>(offset),
                                         Data.begin() + static_cast<ptrdiff_t>(offset + size));
    return {copy->data(), size, copy};
  }
};

std::unique_ptr<TSetupPackageReader> OpenStored(const TBytes& package) {
  TReadOnlyMemoryStream stream(package.data(), package.size());
  return std::make_unique<TSetupPackageReader>(stream, std::make_unique<TVectorStore>());
}

template <typename TOpen>
std::string OpenErrorBy(const TBytes& package, TOpen open) {
  try {
    open(package);
    return "";
  } catch (const ESetupPackageReadError& e) {
    return std::string("ESetupPackageReadError: ") + e.what();
  } catch (const EReadError& e) {
    return std::string("EReadError: ") + e.what();
  } catch (const Exception& e) {
    return e.what();
  }
}

// The message of what opening the package raises, or "" when it opens. A reader with a
// store must fail the same way, or the difference is the answer.
std::string OpenError(const TBytes& package) {
  const std::string inMemory = OpenErrorBy(package, Open);
  const std::string stored = OpenErrorBy(package, OpenStored);
  return inMemory == stored ? inMemory : "in memory: " + inMemory + ", stored: " + stored;
}

const TMembers kSample = {
    {u"Install.xml", Bytes("<?xml version=\"1.0\"?><Setup/>")},
    {u"Lang\\\u0420\u0443\u0441\u0441\u043a\u0438\u0439.lng", Bytes("[File]\r\nName=Russian\r\n")},
    {u"empty.dat", {}},
    {u"data\\mixed.bin", Mixed(300000, 1)},
};

}  // namespace

TEST(SetupPackage, RoundTripKeepsEveryMemberInTableOrder) {
  const TBytes package = BuildPackage(kSample);
  // A reader that keeps its payload in a store serves the same members through views
  // that stay valid on their own.
  const auto stored = OpenStored(package);
  ASSERT_EQ(stored->FileTable().Count(), static_cast<int>(kSample.size()));
  EXPECT_TRUE(stored->Payload().Bytes().empty());
  for (const auto& [name, bytes] : kSample) {
    TSetupPackageMemberView view;
    ASSERT_TRUE(stored->FileView(name, view)) << ToUtf8(name);
    EXPECT_EQ(TBytes(view.Data, view.Data + view.Size), bytes) << ToUtf8(name);
    EXPECT_EQ(stored->ExtractFile(name)->Bytes(), bytes) << ToUtf8(name);
  }
  const auto reader = Open(package);
  EXPECT_EQ(stored->PayloadSize(), reader->PayloadSize());
  const auto& table = reader->FileTable();
  ASSERT_EQ(table.Count(), static_cast<int>(kSample.size()));
  for (int i = 0; i < table.Count(); ++i) {
    EXPECT_EQ(table.Items(i).Name, kSample[i].first);
    std::unique_ptr<TMemoryStream> stream;
    ASSERT_TRUE(reader->ExtractFile(kSample[i].first, stream));
    EXPECT_EQ(stream->Position(), 0);
    EXPECT_EQ(stream->Bytes(), kSample[i].second) << ToUtf8(kSample[i].first);
  }
  // The header describes the payload the reader holds.
  const TBytes& payload = reader->Payload().Bytes();
  uint32_t crc, size;
  std::memcpy(&crc, package.data() + 4, 4);
  std::memcpy(&size, package.data() + 8, 4);
  EXPECT_EQ(size, payload.size());
  EXPECT_EQ(crc, TZELHashCRC32::Compute(payload.data(), payload.size()));
}

TEST(SetupPackage, LevelsGiveTheCodersPropertyHeader) {
  // Level 4, the program's level, is 5D 00 00 40 00: lc 3, lp 0, pb 2, 4 MiB.
  struct Case {
    int level;
    TBytes header;
  };
  const Case cases[] = {
      {4, {0x5D, 0x00, 0x00, 0x40, 0x00}},  {0, {0x5D, 0x00, 0x40, 0x00, 0x00}},
      {5, {0x5D, 0x00, 0x00, 0x00, 0x01}},  {6, {0x5D, 0x00, 0x00, 0x00, 0x02}},
      {9, {0x5D, 0x00, 0x00, 0x00, 0x04}},  {-1, {0x5D, 0x00, 0x00, 0x00, 0x01}},  // counts as 5
      {12, {0x5D, 0x00, 0x00, 0x00, 0x04}},                                        // above 9: as 9
  };
  for (const Case& c : cases) {
    const TBytes package = BuildPackage(kSample, c.level);
    const TBytes body = Body(package);
    EXPECT_EQ(TBytes(body.begin(), body.begin() + 5), c.header) << "level " << c.level;
    EXPECT_EQ(Open(package)->ExtractFile(u"data\\mixed.bin")->Bytes(), kSample[3].second) << "level " << c.level;
  }
}

TEST(SetupPackage, DamagedPackagesFailCleanly) {
  const TBytes good = BuildPackage(kSample);
  const std::string corrupted = "ESetupPackageReadError: Package was corrupted";
  const std::string readError = "EReadError: Stream read error";
  struct Case {
    const char* what;
    std::function<void(TBytes&)> damage;
    std::string error;
  };
  const Case cases[] = {
      {"magic IPK4", [](TBytes& p) { p[3] = '4'; }, corrupted},
      {"empty source", [](TBytes& p) { p.clear(); }, readError},
      {"header cut short", [](TBytes& p) { p.resize(11); }, readError},
      {"header only", [](TBytes& p) { p.resize(12); }, corrupted},
      {"body inside the property bytes", [](TBytes& p) { p.resize(15); }, corrupted},
      {"body cut in half", [](TBytes& p) { p.resize(12 + (p.size() - 12) / 2); }, corrupted},
      {"one byte changed after the properties", [](TBytes& p) { p[12 + 5 + 100] ^= 0x40; }, corrupted},
      {"one byte changed in the middle", [](TBytes& p) { p[p.size() / 2] ^= 1; }, corrupted},
      {"header claims one byte more", [](TBytes& p) { PutLE32(p, 8, uint32_t(p[8] | p[9] << 8 | p[10] << 16) + 1); },
       corrupted},
      {"header claims one byte less", [](TBytes& p) { PutLE32(p, 8, uint32_t(p[8] | p[9] << 8 | p[10] << 16) - 1); },
       corrupted},
      {"header claims 4 GiB", [](TBytes& p) { PutLE32(p, 8, 0xFFFFFFFF); }, corrupted},
      {"checksum changed", [](TBytes& p) { p[4] ^= 0x80; }, corrupted},
      {"unsupported property byte",
       [](TBytes& p) {
         TBytes body = Body(p);
         body[0] = 225;  // pb 5 is past the coder's range
         const TBytes enciphered = Cipher(body.data(), body.size());
         std::copy(enciphered.begin(), enciphered.end(), p.begin() + 12);
       },
       "LZMA Error (4)"},
      // Damage inside a payload whose checksum is right: the table code must cope.
      {"payload too short for the table size",
       [](TBytes& p) {
         p = WrapPayload({1, 2, 3});
       },
       readError},
      {"huge count", [](TBytes& p) { p = WrapPayload(Payload(Bytes("abc"), Table(0x7FFFFFFF, {Entry(u"a", 0, 3)}))); },
       readError},
      {"count above the entries",
       [](TBytes& p) { p = WrapPayload(Payload(Bytes("abc"), Table(3, {Entry(u"a", 0, 3)}))); }, readError},
      {"name longer than the table",
       [](TBytes& p) {
         TBytes entry = Entry(u"a", 0, 3);
         entry[1] = 0x40;  // 16 K code units
         p = WrapPayload(Payload(Bytes("abc"), Table(1, {entry})));
       },
       readError},
  };
  for (const Case& c : cases) {
    TBytes package = good;
    c.damage(package);
    EXPECT_EQ(OpenError(package), c.error) << c.what;
  }

  // The table size pointing before the payload's start.
  TBytes payload = Payload(Bytes("abc"), Table(0, {}));
  PutLE32(payload, payload.size() - 4, 100);
  EXPECT_EQ(OpenError(WrapPayload(payload)), readError);
}

TEST(SetupPackage, TablesWithoutEntriesOrWithEntriesOutsideThePayload) {
  for (int32_t count : {0, -1, INT32_MIN}) {
    const auto reader = Open(WrapPayload(Payload(Bytes("abc"), Table(count, {Entry(u"a", 0, 3)}))));
    EXPECT_EQ(reader->FileTable().Count(), 0) << count;
  }

  const TBytes data = Bytes("0123456789");
  const auto reader = Open(
      WrapPayload(Payload(data, Table(6, {Entry(u"good", 2, 5), Entry(u"negative offset", -1, 2),
                                          Entry(u"negative size", 0, -1), Entry(u"past the end", 8, 1000),
                                          Entry(u"overflow", 4, INT64_MAX), Entry(u"far offset", INT64_MAX, 0)}))));
  ASSERT_EQ(reader->FileTable().Count(), 6);
  EXPECT_EQ(reader->ExtractFile(u"good")->Bytes(), Bytes("23456"));
  for (const char16_t* name : {u"negative offset", u"negative size", u"past the end", u"overflow", u"far offset"}) {
    EXPECT_TRUE(reader->ContainsFile(name));
    std::unique_ptr<TMemoryStream> stream;
    EXPECT_THROW(reader->ExtractFile(name, stream), ESetupPackageReadError) << ToUtf8(name);
    EXPECT_EQ(stream, nullptr);
    TSetupPackageMemberView view;
    EXPECT_THROW(reader->FileView(name, view), ESetupPackageReadError) << ToUtf8(name);
    EXPECT_EQ(view.Data, nullptr);
  }
}

TEST(SetupPackage, LookupIsCaseInsensitiveAndFindsTheFirstOfEqualNames) {
  const TBytes package = BuildPackage({
      {u"Install.xml", Bytes("first")},
      {u"INSTALL.XML", Bytes("second")},
      {u"\u0416\u0443\u043a.txt", Bytes("cyrillic")},
  });
  const auto reader = Open(package);
  EXPECT_TRUE(reader->ContainsFile(u"install.xml"));
  EXPECT_EQ(reader->ExtractFile(u"install.xml")->Bytes(), Bytes("first"));
  std::unique_ptr<TMemoryStream> stream;
  ASSERT_TRUE(reader->ExtractFile(u"INSTALL.XML", stream));
  EXPECT_EQ(stream->Bytes(), Bytes("first"));
  EXPECT_EQ(reader->ExtractFile(u"\u0436\u0423\u041a.TXT")->Bytes(), Bytes("cyrillic"));

  // Absent names, prefixes and longer names are not found, and the out value stays as it was.
  for (const char16_t* name : {u"Install", u"Install.xml ", u"nothing", u""}) {
    EXPECT_FALSE(reader->ContainsFile(name)) << ToUtf8(name);
    auto kept = std::make_unique<TMemoryStream>(Bytes("kept"));
    TMemoryStream* before = kept.get();
    EXPECT_FALSE(reader->ExtractFile(name, kept));
    EXPECT_EQ(kept.get(), before);
    EXPECT_EQ(reader->ExtractFile(name), nullptr);
  }
}

TEST(SetupPackage, EmptyBuilderAndEmptyMembers) {
  const auto empty = Open(BuildPackage({}));
  EXPECT_EQ(empty->FileTable().Count(), 0);
  EXPECT_EQ(empty->Payload().Bytes(), (TBytes{0, 0, 0, 0, 4, 0, 0, 0}));

  const auto reader = Open(BuildPackage({{u"", {}}, {u"zero", {}}}));
  ASSERT_EQ(reader->FileTable().Count(), 2);
  const auto stream = reader->ExtractFile(u"zero");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Size(), 0);
  EXPECT_TRUE(reader->ContainsFile(u""));
}

TEST(SetupPackage, BuilderRefusesMisuseWithoutCorruptingItsState) {
  TSetupPackageBuilder builder(kSetupPackageKey);
  TMemoryStream first(Bytes("first"));
  builder.AddFile(first, u"a");
  // A source not rewound cannot deliver its Size() bytes: no entry and no bytes are added.
  TMemoryStream half(Bytes("0123456789"));
  half.SetPosition(5);
  EXPECT_THROW(builder.AddFile(half, u"b"), EReadError);
  EXPECT_EQ(builder.FileTable().Count(), 1);
  EXPECT_EQ(builder.Payload().Bytes().size(), 5u);

  TMemoryStream out;
  builder.Commit(out, 4);
  TMemoryStream again;
  EXPECT_THROW(builder.Commit(again, 4), EInvalidOperation);
  EXPECT_EQ(Open(out.Bytes())->ExtractFile(u"a")->Bytes(), Bytes("first"));

  TSetupPackageBuilder longName(kSetupPackageKey);
  TMemoryStream none;
  longName.AddFile(none, String(65536, u'x'));
  EXPECT_THROW(longName.Commit(out, 4), EInvalidOperation);
}

TEST(SetupPackage, ReadsFromAStreamPositionAndIgnoresTrailingBytes) {
  const TBytes package = BuildPackage(kSample);
  TBytes framed = Bytes("prefix");
  framed.insert(framed.end(), package.begin(), package.end());
  framed.insert(framed.end(), 1000, 0xAA);
  TReadOnlyMemoryStream stream(framed.data(), framed.size());
  stream.SetPosition(6);
  TSetupPackageReader reader(stream);
  EXPECT_EQ(reader.ExtractFile(u"Install.xml")->Bytes(), kSample[0].second);
}

TEST(SetupPackage, OpensAPackageFromAnotherWriterWithAnEndMarker) {
  // Written by tests/tools/ipk5_peer.py: Python's raw LZMA1 coder, lc 1 lp 2 pb 1, a 64 KiB
  // dictionary, and an end marker after the data.
  TSetupPackageReader reader(kivo::test::DataPath(u"package/peer-end-marker.ipk"));
  const auto& table = reader.FileTable();
  ASSERT_EQ(table.Count(), 4);
  EXPECT_EQ(table.Items(1).Name, u"Lang\\\u0420\u0443\u0441\u0441\u043a\u0438\u0439.lng");
  EXPECT_EQ(reader.ExtractFile(u"install.xml")->Bytes(), Bytes("<?xml version=\"1.0\"?><Setup/>\r\n"));
  EXPECT_EQ(reader.ExtractFile(u"empty.dat")->Size(), 0);
  TBytes expected(5000);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<uint8_t>(i * 7 % 251);
  EXPECT_EQ(reader.ExtractFile(u"data.bin")->Bytes(), expected);
}

TEST(SetupPackage, FileCommitAndSharedOpen) {
  const String dir = kivo::test::ScratchDir(u"SetupPackage.FileCommit");
  const String path = dir + u"/Uninstall.dat";
  TSetupPackageBuilder builder(kSetupPackageKey);
  TMemoryStream ini(Bytes("[Files]\r\n"));
  builder.AddFile(ini, u"Uninstall.ini");
  builder.Commit(path, 4);
  // Another process may hold the file open for reading and writing.
  TFileStream holder(path, FileMode::OpenReadWrite, platform::ShareRead | platform::ShareWrite);
  TSetupPackageReader reader(path);
  EXPECT_EQ(reader.ExtractFile(u"uninstall.INI")->Bytes(), Bytes("[Files]\r\n"));
  EXPECT_THROW(TSetupPackageReader(dir + u"/missing.dat"), EFOpenError);
}

TEST(Lzma, StreamCoderHonoursSizesCodesAndPreprocessors) {
  const TBytes data = Mixed(200000, 5);
  TMemoryStream source(data), coded;
  LzmaCompress(source, coded, 4, [](uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] ^= 0x5A;
  });

  const auto unmask = [](uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] ^= 0x5A;
  };
  struct Case {
    size_t keep;
    uint64_t size;
    int code;
    size_t produced;
  };
  const size_t full = coded.Bytes().size();
  const Case cases[] = {
      {full, data.size(), LzmaOk, data.size()},
      {full, 1000, LzmaOk, 1000},  // stops at the size asked for
      {full, 0, LzmaOk, 0},
      {full / 2, data.size(), LzmaDataError, 0},  // input ends early: some bytes, code 1
      {3, data.size(), LzmaDataError, 0},         // not even the properties
  };
  for (const Case& c : cases) {
    TReadOnlyMemoryStream in(coded.Memory(), c.keep);
    TMemoryStream out;
    EXPECT_EQ(LzmaDecompress(in, out, unmask, c.size), c.code) << c.keep << " " << c.size;
    if (c.code == LzmaOk) {
      EXPECT_EQ(out.Bytes(), TBytes(data.begin(), data.begin() + c.produced));
    } else {
      EXPECT_LT(out.Bytes().size(), data.size());
      EXPECT_TRUE(std::equal(out.Bytes().begin(), out.Bytes().end(), data.begin()));
    }
    TReadOnlyMemoryStream again(coded.Memory(), c.keep);
    TBytes direct;
    EXPECT_EQ(LzmaDecompressToMemory(again, unmask, c.size, direct), c.code);
    EXPECT_EQ(direct, out.Bytes());
    TReadOnlyMemoryStream third(coded.Memory(), c.keep);
    TBytes sunk;
    EXPECT_EQ(LzmaDecompressToSink(third, unmask, c.size,
                                   [&](const uint8_t* p, size_t n) { sunk.insert(sunk.end(), p, p + n); }),
              c.code);
    EXPECT_EQ(sunk, out.Bytes());
  }

  // The destination preprocessor sees every decoded byte; a destination that takes
  // nothing ends with code 9, on either side.
  TReadOnlyMemoryStream in(coded.Memory(), full);
  TMemoryStream out;
  TLZMAStreams streams;
  streams.SourceStream = &in;
  streams.SourcePreprocessor = unmask;
  streams.DestStream = &out;
  size_t seen = 0;
  streams.DestPreprocessor = [&seen](uint8_t*, size_t n) { seen += n; };
  EXPECT_EQ(LzmaDecompress(streams, data.size()), LzmaOk);
  EXPECT_EQ(seen, data.size());

  TReadOnlyMemoryStream full2(coded.Memory(), full), readOnly(nullptr, 0);
  try {
    LzmaDecompress(full2, readOnly, unmask, data.size());
    ADD_FAILURE() << "decoding into a read-only stream succeeded";
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "LZMA Error (9)");
  }
  source.SetPosition(0);
  try {
    LzmaCompress(source, readOnly, 4, nullptr);
    ADD_FAILURE() << "encoding into a read-only stream succeeded";
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "LZMA Error (9)");
  }
}

TEST(SetupPackage, TableCountIsBoundByItsBytes) {
  // Empty names: 18 bytes an entry, the smallest. The count the bytes hold loads; one
  // more is refused before any room is reserved for it.
  const int count = 100000;
  const TBytes entry = Entry(u"", 0, 0);
  TBytes entries;
  for (int i = 0; i < count; ++i) entries.insert(entries.end(), entry.begin(), entry.end());
  for (int32_t declared : {count, count + 1, INT32_MAX}) {
    TBytes table(4);
    PutLE32(table, 0, static_cast<uint32_t>(declared));
    table.insert(table.end(), entries.begin(), entries.end());
    const TBytes package = WrapPayload(Payload({}, table));
    if (declared == count) {
      const auto reader = Open(package);
      ASSERT_EQ(reader->FileTable().Count(), count);
      EXPECT_EQ(reader->FileTable().Find(u""), &reader->FileTable().Items(0));
    } else {
      EXPECT_EQ(OpenError(package), "EReadError: Stream read error") << declared;
    }
  }
}

TEST(SetupPackage, FindThroughTheIndexAtScaleAndAfterChanges) {
  // Enough names that every hash slot chain is exercised; each later duplicate in other
  // case must lose to its first.
  TSetupPackageFileTable table;
  const int count = 20000;
  for (int i = 0; i < count; ++i) {
    TSetupPackageFileTableItem& item = table.Add();
    item.Name = Ascii("Dir" + std::to_string(i / 2 % 37) + "\\File" + std::to_string(i / 2) + ".dat");
    if (i % 2) item.Name = UpperCase(item.Name);
    item.Offset = i;
  }
  for (int i = 0; i < count; ++i) {
    const TSetupPackageFileTableItem* found = table.Find(LowerCase(table.Items(i).Name));
    ASSERT_NE(found, nullptr) << i;
    EXPECT_EQ(found->Offset, i - i % 2) << i;
  }
  EXPECT_EQ(table.Find(u"Dir0\\File1.dat"), nullptr);  // File1 is in Dir1, File0 in Dir0
  EXPECT_EQ(table.Find(u"Dir1\\File0.dat"), nullptr);

  // An item added after a lookup is found; Clear forgets everything.
  TSetupPackageFileTableItem& late = table.Add();
  late.Name = u"late.txt";
  late.Offset = -7;
  ASSERT_NE(table.Find(u"LATE.TXT"), nullptr);
  EXPECT_EQ(table.Find(u"LATE.TXT")->Offset, -7);
  table.Clear();
  EXPECT_EQ(table.Find(u"late.txt"), nullptr);
  EXPECT_EQ(table.Count(), 0);
}

TEST(SetupPackage, ViewsPointIntoThePayloadWithoutACopy) {
  const TMembers members = {{u"a.bin", Mixed(70000, 1)}, {u"empty", {}}, {u"b.txt", Bytes("hello")}};
  const auto reader = Open(BuildPackage(members));
  const uint8_t* payload = reader->Payload().Memory();
  size_t offset = 0;
  for (const auto& [name, bytes] : members) {
    TSetupPackageMemberView view;
    ASSERT_TRUE(reader->FileView(name, view)) << ToUtf8(name);
    EXPECT_EQ(view.Data, payload + offset) << ToUtf8(name);
    EXPECT_EQ(TBytes(view.Data, view.Data + view.Size), bytes) << ToUtf8(name);
    offset += bytes.size();
  }
  const TSetupPackageMemberView untouched{payload, 1, nullptr};
  TSetupPackageMemberView view = untouched;
  EXPECT_FALSE(reader->FileView(u"missing", view));
  EXPECT_EQ(view.Data, untouched.Data);
  EXPECT_EQ(view.Size, untouched.Size);
}

TEST(Lzma, DecodedObserverSeesEveryByteOnceInShortBlocks) {
  // Sizes around the 256 KiB step; the observer's blocks must tile the output exactly.
  for (size_t size : {size_t(0), size_t(1), size_t(262144), size_t(262145), size_t(1048576 + 3)}) {
    const TBytes data = Mixed(size, 9);
    TMemoryStream source(data), coded;
    LzmaCompress(source, coded, 1, nullptr);
    TReadOnlyMemoryStream in(coded.Memory(), static_cast<size_t>(coded.Size()));
    TBytes out, seen;
    size_t largest = 0;
    const uint8_t* expectedNext = nullptr;
    bool contiguous = true;
    const int code = LzmaDecompressToMemory(in, nullptr, size, out, [&](const uint8_t* p, size_t n) {
      if (expectedNext && p != expectedNext) contiguous = false;
      expectedNext = p + n;
      seen.insert(seen.end(), p, p + n);
      largest = std::max(largest, n);
    });
    EXPECT_EQ(code, LzmaOk) << size;
    EXPECT_EQ(out, data) << size;
    EXPECT_EQ(seen, data) << size;
    EXPECT_TRUE(contiguous) << size;
    EXPECT_LE(largest, size_t(256 * 1024)) << size;
    // To a sink, level 1's 64 KiB window wraps many times over the larger sizes: the
    // blocks still tile the output and never outgrow the window.
    TReadOnlyMemoryStream again(coded.Memory(), static_cast<size_t>(coded.Size()));
    TBytes sunk;
    size_t largestSunk = 0;
    EXPECT_EQ(LzmaDecompressToSink(again, nullptr, size,
                                   [&](const uint8_t* p, size_t n) {
                                     sunk.insert(sunk.end(), p, p + n);
                                     largestSunk = std::max(largestSunk, n);
                                   }),
              LzmaOk)
        << size;
    EXPECT_EQ(sunk, data) << size;
    EXPECT_LE(largestSunk, size_t(64 * 1024)) << size;
  }
  // A body cut short: the observer has seen exactly what was decoded.
  const TBytes data = Mixed(300000, 4);
  TMemoryStream source(data), coded;
  LzmaCompress(source, coded, 4, nullptr);
  TReadOnlyMemoryStream half(coded.Memory(), static_cast<size_t>(coded.Size() / 2));
  TBytes out, seen;
  EXPECT_EQ(LzmaDecompressToMemory(half, nullptr, data.size(), out,
                                   [&](const uint8_t* p, size_t n) { seen.insert(seen.end(), p, p + n); }),
            LzmaDataError);
  EXPECT_EQ(seen, out);
  EXPECT_LT(out.size(), data.size());
}

TEST(Lzma, LargeInputsAreReadAheadWithTheSameOutcomes) {
  // Over 1 MiB of coded input, reading and deciphering run on a second thread; what the
  // caller gets must not change: the bytes, code 1 for a body cut short, and the
  // source's own error when its read fails part-way.
  const TBytes data = Mixed(3 * 1024 * 1024, 11);
  TMemoryStream source(data), coded;
  const auto flip = [](uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] ^= 0xA5;
  };
  LzmaCompress(source, coded, 1, flip);
  ASSERT_GT(coded.Size(), 1024 * 1024);

  struct TFailingStream : TReadOnlyMemoryStream {
    size_t FailAt;
    size_t Done = 0;
    TFailingStream(const TBytes& bytes, size_t failAt)
        : TReadOnlyMemoryStream(bytes.data(), bytes.size()), FailAt(failAt) {}
    size_t Read(void* buffer, size_t count) override {
      if (Done + count > FailAt) throw EReadError();
      const size_t n = TReadOnlyMemoryStream::Read(buffer, count);
      Done += n;
      return n;
    }
  };
  struct Case {
    size_t keep;
    size_t failAt;
    int code;
  };
  const size_t full = static_cast<size_t>(coded.Size());
  const Case cases[] = {{full, SIZE_MAX, LzmaOk}, {full * 6 / 10, SIZE_MAX, LzmaDataError}, {full, full / 2, -1}};
  for (const Case& c : cases) {
    const TBytes input(coded.Memory(), coded.Memory() + c.keep);
    TFailingStream in(input, c.failAt);
    TBytes out, seen;
    const auto observe = [&](const uint8_t* p, size_t n) { seen.insert(seen.end(), p, p + n); };
    TFailingStream again(input, c.failAt);
    TBytes sunk;
    const auto sink = [&](const uint8_t* p, size_t n) { sunk.insert(sunk.end(), p, p + n); };
    if (c.code < 0) {
      EXPECT_THROW(LzmaDecompressToMemory(in, flip, data.size(), out, observe), EReadError);
      EXPECT_THROW(LzmaDecompressToSink(again, flip, data.size(), sink), EReadError);
      continue;
    }
    EXPECT_EQ(LzmaDecompressToSink(again, flip, data.size(), sink), c.code) << c.keep;
    EXPECT_EQ(LzmaDecompressToMemory(in, flip, data.size(), out, observe), c.code) << c.keep;
    EXPECT_EQ(seen, out);
    EXPECT_EQ(sunk, out);
    if (c.code == LzmaOk) EXPECT_EQ(out, data);
    else {
      EXPECT_GT(out.size(), 0u);
      EXPECT_LT(out.size(), data.size());
      EXPECT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
    }
  }
}
