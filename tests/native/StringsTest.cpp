#include <gtest/gtest.h>

#include "TestSupport.h"
#include "library/Streams.h"
#include "library/Strings.h"

using namespace zel;

TEST(Strings, Utf8RoundTripKeepsEveryPlane) {
  const String text = u"KIVO \u00e4\u0416\u20ac \U0001F3B5";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  String out;
  EXPECT_FALSE(TryFromUtf8("\xC3", out));      // cut sequence
  EXPECT_FALSE(TryFromUtf8("\xC0\x80", out));  // overlong NUL
  EXPECT_FALSE(TryFromUtf8("\xED\xA0\x80", out) && out.size() != 1);
  EXPECT_EQ(FromUtf8("a\xFF"
                     "b"),
            u"a\uFFFDb");
}

TEST(Strings, TrimRemovesControlCharactersAndSpaceOnly) {
  EXPECT_EQ(Trim(u"\t\r\n x y \0"), u"x y");
  EXPECT_EQ(Trim(u"   "), u"");
  EXPECT_EQ(Trim(u"\u00a0x\u00a0"), u"\u00a0x\u00a0");
}

TEST(Strings, IntegerConversionFollowsTheThirtyTwoBitRules) {
  struct Case {
    const char16_t* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {u"42", true, 42},
      {u"  -7", true, -7},
      {u"+8", true, 8},
      {u"$1F", true, 31},
      {u"0x10", true, 16},
      {u"0X10", true, 16},
      {u"2147483647", true, INT32_MAX},
      {u"-2147483648", true, INT32_MIN},
      {u"2147483648", false, 0},
      {u"$FFFFFFFF", true, -1},
      {u"", false, 0},
      {u"1 ", false, 0},
      {u"yes", false, 0},
      {u"-", false, 0},
      {u"0x", false, 0},
      {u"12a", false, 0},
  };
  for (const Case& c : cases) {
    int32_t v = 0;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << ToUtf8(c.text);
    if (c.ok) {
      EXPECT_EQ(v, c.value) << ToUtf8(c.text);
    }
  }
}

TEST(Strings, CaseInsensitiveComparisonNeedsEqualLength) {
  EXPECT_TRUE(SameText(u"Install.xml", u"install.XML"));
  EXPECT_TRUE(SameText(u"\u0416\u0443\u043a", u"\u0436\u0423\u041a"));
  EXPECT_FALSE(SameText(u"abc", u"abcd"));
  EXPECT_FALSE(SameText(u"", u"a"));
}

TEST(Strings, FormatFillsTemplates) {
  EXPECT_EQ(Format(u"Cannot locate \"%s\" file in setup archive", u"Install.xml"),
            u"Cannot locate \"Install.xml\" file in setup archive");
  EXPECT_EQ(Format(u"LZMA Error (%d)", 9), u"LZMA Error (9)");
  EXPECT_EQ(Format(u"%d%% %s", 50), u"50% ");
  EXPECT_EQ(Format(u"0x%X", 0x6D2B9A17), u"0x6D2B9A17");
}

TEST(Strings, PathHelpers) {
  EXPECT_EQ(IncludeTrailingBackslash(u"C:\\KIVO"), u"C:\\KIVO\\");
  EXPECT_EQ(IncludeTrailingBackslash(u"C:\\KIVO\\"), u"C:\\KIVO\\");
  EXPECT_EQ(ExtractFileName(u"C:\\a\\b.txt"), u"b.txt");
  EXPECT_EQ(ExtractFilePath(u"C:\\a\\b.txt"), u"C:\\a\\");
  EXPECT_EQ(ExtractFileExt(u"C:\\a.d\\b"), u"");
  EXPECT_EQ(ChangeFileExt(u"C:\\x\\Uninstall.exe", u".dat"), u"C:\\x\\Uninstall.dat");
}

TEST(Streams, MemoryStreamReadsWritesAndSeeks) {
  TMemoryStream s;
  s.WriteBuffer("abcdef", 6);
  EXPECT_EQ(s.Size(), 6);
  s.SetPosition(2);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 4u);
  EXPECT_STREQ(buf, "cdef");
  EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
  s.SetPosition(10);  // past the end: a write fills the gap with zeros
  s.WriteBuffer("z", 1);
  EXPECT_EQ(s.Size(), 11);
  EXPECT_EQ(s.Bytes()[7], 0);
}

TEST(Streams, BufferedFileStreamPassesLargeWritesStraightToTheFile) {
  // Write sizes against a 4096-byte buffer; after each step the file must already hold
  // every byte of each block at least as large as the buffer and of all that came before.
  struct Case {
    std::vector<size_t> writes;
    size_t onDiskBeforeFlush;
  };
  const Case cases[] = {
      {{4096}, 4096}, {{4095}, 0}, {{10, 10000}, 10010}, {{10000, 10}, 10000}, {{100, 4096, 100, 9000, 1}, 13296},
  };
  int n = 0;
  for (const Case& c : cases) {
    const String path = kivo::test::ScratchDir(u"bypass") + u"/f" + IntToStr(n++) + u".bin";
    std::vector<uint8_t> expected;
    {
      TBufferedFileStream f(path, FileMode::Create, platform::ShareRead | platform::ShareWrite, 4096);
      for (size_t size : c.writes) {
        std::vector<uint8_t> block(size);
        for (size_t i = 0; i < size; ++i) block[i] = static_cast<uint8_t>(expected.size() + i * 13);
        f.WriteBuffer(block.data(), block.size());
        expected.insert(expected.end(), block.begin(), block.end());
      }
      EXPECT_EQ(f.Position(), static_cast<int64_t>(expected.size()));
      EXPECT_EQ(kivo::test::ReadAll(path).size(), c.onDiskBeforeFlush) << n;
      f.Flush();
    }
    EXPECT_EQ(kivo::test::ReadAll(path), expected) << n;
  }
}

TEST(Streams, SubStreamIsAWindowOfItsBase) {
  const std::vector<uint8_t> data = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  TReadOnlyMemoryStream base(data.data(), data.size());
  TSubStream window(base, 3, 5);
  EXPECT_EQ(window.Size(), 5);
  uint8_t got[8] = {};
  EXPECT_EQ(window.Read(got, 2), 2u);
  EXPECT_EQ(std::string(got, got + 2), "34");
  base.SetPosition(0);  // the window keeps its own position
  EXPECT_EQ(window.Read(got, 8), 3u);
  EXPECT_EQ(std::string(got, got + 3), "567");
  EXPECT_EQ(window.Read(got, 8), 0u);
  window.Seek(-1, SeekOrigin::End);
  EXPECT_EQ(window.Read(got, 8), 1u);
  EXPECT_EQ(got[0], '7');
  EXPECT_EQ(window.Write("x", 1), 0u);
  EXPECT_THROW(window.Seek(-1, SeekOrigin::Begin), EReadError);
  TSubStream pastTheEnd(base, 8, 5);  // a window longer than its base reads what is there
  EXPECT_EQ(pastTheEnd.Read(got, 8), 2u);
  EXPECT_THROW(TSubStream(base, -1, 2), EReadError);
}

TEST(Streams, BufferedFileStreamMixesReadsWritesAndSeeks) {
  const String path = kivo::test::ScratchDir(u"buffered") + u"/f.bin";
  {
    TBufferedFileStream f(path, FileMode::Create, platform::ShareRead, 4096);
    std::vector<uint8_t> data(10000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    f.WriteBuffer(data.data(), data.size());
    EXPECT_EQ(f.Position(), 10000);
    f.SetPosition(5000);
    uint8_t b = 0;
    f.ReadBuffer(&b, 1);
    EXPECT_EQ(b, static_cast<uint8_t>(5000 * 7));
    f.WriteBuffer("X", 1);  // overwrites byte 5001
    EXPECT_EQ(f.Size(), 10000);
  }
  const auto back = kivo::test::ReadAll(path);
  ASSERT_EQ(back.size(), 10000u);
  EXPECT_EQ(back[5001], 'X');
  EXPECT_EQ(back[9999], static_cast<uint8_t>(9999 * 7));
  EXPECT_THROW(TFileStream(path + u".missing", FileMode::OpenRead), EFOpenError);
}
