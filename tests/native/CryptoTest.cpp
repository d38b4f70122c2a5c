#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "library/Crc32.h"
#include "library/Rc4.h"

using namespace zel;

namespace {

// Bit by bit, straight from the definition: the table-driven code is checked against it.
uint32_t ReferenceCrc(const uint8_t* data, size_t size) {
  uint32_t crc = 0;
  for (size_t n = 0; n < size; ++n) {
    crc ^= uint32_t(data[n]) << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) out += {digits[b >> 4], digits[b & 15]};
  return out;
}

}  // namespace

TEST(Crc32, CheckValueIsTheUnreflectedUninvertedVariant) {
  EXPECT_EQ(TZELHashCRC32::Compute("123456789", 9), 0x89A1897Fu);
  EXPECT_EQ(TZELHashCRC32::Compute("", 0), 0u);
  const uint8_t one = 1;
  EXPECT_EQ(TZELHashCRC32::Compute(&one, 1), 0x04C11DB7u);
}

TEST(Crc32, EveryLengthAlignmentAndSplitMatchesTheBitwiseDefinition) {
  // Lengths past two 8-byte blocks, every start alignment, every split point: a wrong
  // slice table or a tail handled badly shows up here.
  const std::vector<uint8_t> data = RandomBytes(64 + 8, 7);
  for (size_t align = 0; align < 8; ++align) {
    for (size_t length = 0; length <= 40; ++length) {
      const uint8_t* p = data.data() + align;
      const uint32_t expected = ReferenceCrc(p, length);
      ASSERT_EQ(TZELHashCRC32::Compute(p, length), expected) << "align " << align << " length " << length;
      for (size_t split = 0; split <= length; ++split) {
        TZELHashCRC32 crc;
        crc.Update(p, split);
        crc.Update(p + split, length - split);
        ASSERT_EQ(crc.Value(), expected) << "align " << align << " length " << length << " split " << split;
      }
    }
  }
  const std::vector<uint8_t> big = RandomBytes(1 << 20, 8);
  TZELHashCRC32 chunked;
  for (size_t pos = 0, step = 1; pos < big.size(); pos += step, step = step * 3 % 4099 + 1)
    chunked.Update(big.data() + pos, std::min(step, big.size() - pos));
  EXPECT_EQ(chunked.Value(), ReferenceCrc(big.data(), big.size()));
}

TEST(Rc4, KnownAnswers) {
  struct Case {
    const char* key;
    const char* plain;
    const char* cipher;
  };
  const Case cases[] = {
      {"Key", "Plaintext", "BBF316E8D940AF0AD3"},
      {"Wiki", "pedia", "1021BF0420"},
      {"Secret", "Attack at dawn", "45A01F645FC35B383552544B9BF5"},
  };
  for (const Case& c : cases) {
    TRC4 rc4;
    rc4.Init(c.key, std::strlen(c.key));
    std::vector<uint8_t> out(std::strlen(c.plain));
    rc4.Crypt(c.plain, out.data(), out.size());
    EXPECT_EQ(Hex(out), c.cipher) << c.key;
  }
}

TEST(Rc4, ChunkedAndInPlaceCallsContinueOneKeystream) {
  const std::vector<uint8_t> plain = RandomBytes(1000, 3);
  const uint8_t key[4] = {0x17, 0x9A, 0x2B, 0x6D};
  TRC4 whole;
  whole.Init(key, sizeof(key));
  std::vector<uint8_t> expected(plain.size());
  whole.Crypt(plain.data(), expected.data(), plain.size());

  for (size_t chunk : {1u, 3u, 255u, 256u, 257u, 999u}) {
    TRC4 rc4;
    rc4.Init(key, sizeof(key));
    std::vector<uint8_t> buffer = plain;
    for (size_t pos = 0; pos < buffer.size(); pos += chunk)
      rc4.Crypt(buffer.data() + pos, buffer.data() + pos, std::min(chunk, buffer.size() - pos));
    EXPECT_EQ(buffer, expected) << "chunk " << chunk;
  }
  // Init starts over: the same context deciphers again.
  whole.Init(key, sizeof(key));
  std::vector<uint8_t> back(expected.size());
  whole.Crypt(expected.data(), back.data(), back.size());
  EXPECT_EQ(back, plain);
}
