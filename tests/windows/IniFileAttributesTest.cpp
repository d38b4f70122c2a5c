// Saving INI files over files that Windows protects by their attributes, and beyond MAX_PATH.
#include <windows.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "library/IniFile.h"
#include "platform/Platform.h"

using namespace zel;
using kivo::test::Bytes;
using kivo::test::ReadAll;
using kivo::test::ScratchDir;
using kivo::test::WriteAll;

namespace {
const wchar_t* W(const String& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
}  // namespace

TEST(IniFileWindows, SaveReplacesReadOnlyHiddenAndSystemFiles) {
  const String dir = ScratchDir(u"ini-attributes");
  const DWORD protections[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN,
                               FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
  for (DWORD attributes : protections) {
    const String path = dir + u"\\Uninstall" + IntToStr(attributes) + u".ini";
    WriteAll(path, Bytes("[Old]\r\nk=v\r\n"));
    ASSERT_TRUE(::SetFileAttributesW(W(path), attributes));
    TZELIniFile ini;
    ini.WriteString(u"New", u"k", u"w");
    ASSERT_TRUE(ini.SaveToFile(path, TZELIniEncoding::Ansi)) << attributes;
    EXPECT_EQ(ReadAll(path), Bytes("[New]\r\nk=w\r\n\r\n")) << attributes;
    EXPECT_EQ(::GetFileAttributesW(W(path)) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
  }
}

TEST(IniFileWindows, LongPathsAreSavedAndLoaded) {
  // A folder name of 200 characters and a file name of 100 put the path past MAX_PATH.
  const String folder = ScratchDir(u"ini-long") + u"\\" + String(200, u'f');
  ASSERT_TRUE(::CreateDirectoryW(W(u"\\\\?\\" + folder), nullptr));
  const String path = folder + u"\\" + String(96, u'n') + u".ini";
  ASSERT_GE(path.size(), static_cast<size_t>(MAX_PATH));
  TZELIniFile ini;
  ini.WriteString(u"S", u"k", u"long");
  ASSERT_TRUE(ini.SaveToFile(path, TZELIniEncoding::Utf8));
  TZELIniFile back(path);
  EXPECT_EQ(back.ReadString(u"S", u"k", u""), u"long");
  EXPECT_EQ(back.Encoding(), TZELIniEncoding::Utf8);
}

TEST(IniFileWindows, ExtendedLengthPathPrefixesOnlyLongPaths) {
  // Wine opens long unprefixed paths anyway, so the forms themselves are checked here.
  const String longName = String(270, u'x');
  struct Case {
    String path;
    String expected;
  };
  const Case cases[] = {
      {u"C:\\short.ini", u"C:\\short.ini"},
      {u"C:\\" + longName, u"\\\\?\\C:\\" + longName},
      {u"C:\\a\\..\\" + longName, u"\\\\?\\C:\\" + longName},  // made canonical first
      {u"\\\\server\\share\\" + longName, u"\\\\?\\UNC\\server\\share\\" + longName},
      {u"\\\\?\\C:\\" + longName, u"\\\\?\\C:\\" + longName},  // already extended
  };
  for (const Case& c : cases) EXPECT_EQ(platform::ExtendedLengthPath(c.path), c.expected) << ToUtf8(c.path);
}
