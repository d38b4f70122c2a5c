#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "TestSupport.h"
#include "library/IniFile.h"
#include "platform/Platform.h"

using namespace zel;
using kivo::test::Bytes;
using kivo::test::DataPath;
using kivo::test::ReadAll;
using kivo::test::ScratchDir;
using kivo::test::WriteAll;

namespace {

std::unique_ptr<TZELIniFile> FromText(StringView text) {
  auto ini = std::make_unique<TZELIniFile>();
  ini->LoadFromText(text);
  return ini;
}

String AnsiExpected(const char* bytes) {
  String text;
  platform::DecodeCodePage(bytes, std::strlen(bytes), 0, text);
  return text;
}

std::filesystem::path FsPath(StringView path) {
#ifdef _WIN32
  return std::filesystem::path(std::wstring(path.begin(), path.end()));
#else
  return std::filesystem::path(ToUtf8(path));
#endif
}

}  // namespace

// --- Parsing and serialising

TEST(IniFile, ParsingFollowsTheLineAndHeaderRules) {
  struct Case {
    const char16_t* input;
    const char16_t* saved;
  };
  const Case cases[] = {
      {u"", u""},
      {u"orphan=1\r\n[A]\r\nk=v", u"[A]\r\nk=v\r\n\r\n"},                      // before the first header: dropped
      {u"[A]\nx=1\ry=2\r\n\r\n\n\nz=3", u"[A]\r\nx=1\r\ny=2\r\nz=3\r\n\r\n"},  // every break, empties skipped
      {u"[A]\u2028x=1\u2028\r\ny=2", u"[A]\r\nx=1\r\ny=2\r\n\r\n"},            // U+2028, with its own CR LF
      {u"[A]\r\nx=\u2029y", u"[A]\r\nx=\u2029y\r\n\r\n"},                      // U+2029 is no break
      {u"[File\r\nk=v", u"[Fil]\r\nk=v\r\n\r\n"},                              // last character cut, whatever it is
      {u"[A]]\r\nk=v", u"[A]]\r\nk=v\r\n\r\n"},
      {u"[\r\nk=v", u"[]\r\nk=v\r\n\r\n"},                                   // a lone "[" names the empty section
      {u"[A]\r\n [B]\r\n;c\r\n#d=1", u"[A]\r\n [B]\r\n;c\r\n#d=1\r\n\r\n"},  // only a leading "[" is a header
      {u"[Common]\r\na=1\r\n[X]\r\nb=2\r\n[COMMON]\r\nc=3", u"[Common]\r\na=1\r\nc=3\r\n\r\n[X]\r\nb=2\r\n\r\n"},
      {u"[Empty]\r\n[A]\r\nk=v\r\n[Empty2]", u"[A]\r\nk=v\r\n\r\n"},  // sections without lines not saved
      {u"[A]\r\n  k = \"v\" ", u"[A]\r\n  k = \"v\" \r\n\r\n"},       // nothing trimmed or unquoted
  };
  for (const Case& c : cases) {
    auto ini = FromText(c.input);
    EXPECT_EQ(ini->SaveToText(), c.saved) << ToUtf8(c.input);
  }
}

// --- Reading

TEST(IniFile, KeysAreRawTextBeforeTheFirstEquals) {
  auto ini = FromText(
      u"[File]\r\nFamily=EN\r\nFamily=RU\r\nKey = Value\r\n;comment line\r\nEmpty=\r\n"
      u"a=b=c\r\n=nokey\r\n\u0418\u043c\u044f=\u0416\r\n");
  struct Case {
    const char16_t* key;
    const char16_t* expected;  // nullptr: the default
  };
  const Case cases[] = {
      {u"Family", u"EN"},    // duplicates: the first line wins
      {u"FAMILY", u"EN"},    // case-insensitive
      {u"Key", nullptr},     // the key is "Key " with its space
      {u"Key ", u" Value"},  // and the value keeps its leading space
      {u"Empty", u""},       // present but empty: not the default
      {u"a", u"b=c"},        // the first "=" splits
      {u"a=b", nullptr},     {u";comment line", nullptr}, {u"\u0438\u041c\u042f", u"\u0416"},  // Cyrillic case folding
      {u"Famil", nullptr},                                                                     // equal length needed
      {u"Missing", nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ini->ReadString(u"file", c.key, u"<def>"), c.expected ? String(c.expected) : u"<def>") << ToUtf8(c.key);
    String value = u"stale";
    EXPECT_EQ(ini->TryReadString(u"File", c.key, value), c.expected != nullptr) << ToUtf8(c.key);
    if (!c.expected) {
      EXPECT_EQ(value, u"");
    }
    EXPECT_EQ(ini->ValueExists(u"FILE", c.key), c.expected != nullptr) << ToUtf8(c.key);
  }
  EXPECT_EQ(ini->ReadString(u"Nope", u"Family", u"<def>"), u"<def>");
  EXPECT_FALSE(ini->ValueExists(u"Nope", u"Family"));

  std::vector<String> keys{u"kept"};
  ini->ReadKeys(u"File", keys);
  const std::vector<String> expected{u"kept", u"Family", u"Family", u"Key ", u"Empty", u"a", u"\u0418\u043c\u044f"};
  EXPECT_EQ(keys, expected);  // the comment and the "=nokey" line have no key
}

TEST(IniFile, ReadIntegerAndReadBoolConvertOrFallBack) {
  struct Case {
    const char16_t* value;
    int32_t integer;  // with default 7
    bool boolean;     // with default true
  };
  const Case cases[] = {
      {u"1", 1, true},          {u"0", 0, false},
      {u"yes", 7, true},        {u"true", 7, true},
      {u"-5", -5, true},        {u"  12", 12, true},
      {u"12 ", 7, true},        {u"$1F", 31, true},
      {u"0x1f", 31, true},      {u"$FFFFFFFF", -1, true},
      {u"$100000000", 7, true}, {u"2147483647", INT32_MAX, true},
      {u"2147483648", 7, true}, {u"-2147483648", INT32_MIN, true},
      {u"", 7, true},
  };
  for (const Case& c : cases) {
    TZELIniFile ini;
    ini.WriteString(u"S", u"K", c.value);
    EXPECT_EQ(ini.ReadInteger(u"S", u"K", 7), c.integer) << ToUtf8(c.value);
    EXPECT_EQ(ini.ReadBool(u"S", u"K", true), c.boolean) << ToUtf8(c.value);
  }
  TZELIniFile ini;
  ini.WriteString(u"S", u"K", u"yes");
  EXPECT_FALSE(ini.ReadBool(u"S", u"K", false));
  EXPECT_FALSE(ini.ReadBool(u"S", u"Missing", false));
  EXPECT_EQ(ini.ReadInteger(u"S", u"Missing", -3), -3);
}

TEST(IniFile, ReadStreamDecodesHexOrLeavesTheStreamAlone) {
  struct Case {
    const char16_t* value;
    std::vector<uint8_t> decoded;  // empty: refused
  };
  const Case cases[] = {
      {u"00FF7a", {0x00, 0xFF, 0x7A}},
      {u"abCD", {0xAB, 0xCD}},
      {u"ABC", {}},
      {u"", {}},
      {u"0G", {}},
      {u"12 4", {}},
      {u" 1", {}},
  };
  for (const Case& c : cases) {
    TZELIniFile ini;
    ini.WriteString(u"File", u"Icon", c.value);
    TMemoryStream stream(Bytes("XY"));
    stream.SetPosition(1);
    const bool ok = ini.ReadStream(u"File", u"Icon", stream);
    EXPECT_EQ(ok, !c.decoded.empty()) << ToUtf8(c.value);
    std::vector<uint8_t> expected = Bytes("X");
    if (ok) expected.insert(expected.end(), c.decoded.begin(), c.decoded.end());
    else expected = Bytes("XY");
    EXPECT_EQ(stream.Bytes(), expected) << ToUtf8(c.value);
    EXPECT_EQ(stream.Position(), 1) << ToUtf8(c.value);  // back at the first byte written
  }
  TZELIniFile ini;
  TMemoryStream stream;
  EXPECT_FALSE(ini.ReadStream(u"File", u"Icon", stream));
  EXPECT_EQ(stream.Size(), 0);
}

// --- Writing

TEST(IniFile, WritesReplaceTheFirstMatchOrAppend) {
  auto ini = FromText(u"[File]\r\nFamily=EN\r\nFamily=RU\r\n;note\r\n[Other]\r\nx=1\r\n");
  ini->WriteString(u"FILE", u"family", u"DE");
  ini->WriteString(u"File", u"New", u"v");
  ini->WriteInteger(u"Added", u"Int", -42);
  ini->WriteBool(u"Added", u"On", true);
  ini->WriteBool(u"Added", u"Off", false);
  EXPECT_EQ(ini->SaveToText(),
            u"[File]\r\nfamily=DE\r\nFamily=RU\r\n;note\r\nNew=v\r\n\r\n"
            u"[Other]\r\nx=1\r\n\r\n"
            u"[Added]\r\nInt=-42\r\nOn=1\r\nOff=0\r\n\r\n");

  EXPECT_TRUE(ini->DeleteKey(u"File", u"FAMILY"));
  EXPECT_EQ(ini->ReadString(u"File", u"Family", u""), u"RU");  // the duplicate surfaces
  EXPECT_FALSE(ini->DeleteKey(u"File", u"Nope"));
  EXPECT_FALSE(ini->DeleteKey(u"Nope", u"x"));
}

TEST(IniFile, EraseSectionForgetsTheCachedSection) {
  auto ini = FromText(u"[A]\r\nk=1\r\n[B]\r\nk=2\r\n");
  EXPECT_EQ(ini->ReadString(u"B", u"k", u""), u"2");  // B is now the last found section
  EXPECT_TRUE(ini->EraseSection(u"b"));
  EXPECT_FALSE(ini->EraseSection(u"B"));
  EXPECT_FALSE(ini->SectionExists(u"B"));
  EXPECT_EQ(ini->ReadString(u"B", u"k", u"gone"), u"gone");
  ini->WriteString(u"B", u"k", u"3");
  EXPECT_EQ(ini->SaveToText(), u"[A]\r\nk=1\r\n\r\n[B]\r\nk=3\r\n\r\n");
  ini->Clear();
  EXPECT_TRUE(ini->IsEmpty());
  EXPECT_FALSE(ini->SectionExists(u"B"));
}

TEST(IniFile, WriteStreamWritesUpperHexAndEmptyRemovesTheKey) {
  TZELIniFile ini;
  TMemoryStream icon(std::vector<uint8_t>{0x89, 0x50, 0x0a, 0x00});
  icon.SetPosition(3);
  ini.WriteStream(u"File", u"Icon", icon);
  EXPECT_EQ(ini.ReadString(u"File", u"Icon", u""), u"89500A00");
  EXPECT_EQ(icon.Position(), 3);

  TMemoryStream back;
  ASSERT_TRUE(ini.ReadStream(u"File", u"Icon", back));
  EXPECT_EQ(back.Bytes(), icon.Bytes());

  TMemoryStream empty;
  ini.WriteStream(u"File", u"Icon", empty);
  EXPECT_FALSE(ini.ValueExists(u"File", u"Icon"));
}

TEST(IniFile, SectionTextReplacesAllLines) {
  auto ini = FromText(u"[Integration]\r\nold=1\r\n");
  ini->WriteSectionText(u"integration", u"A=1\r\n\r\nB=0\nC=1\r\n");
  EXPECT_EQ(ini->ReadSectionText(u"Integration"), u"A=1\r\nB=0\r\nC=1");
  EXPECT_FALSE(ini->ValueExists(u"Integration", u"old"));
  ini->WriteSectionText(u"New", u"");
  EXPECT_TRUE(ini->SectionExists(u"New"));
  EXPECT_EQ(ini->ReadSectionText(u"New"), u"");
  EXPECT_EQ(ini->ReadSectionText(u"Missing"), u"");
}

TEST(IniFile, MergeWritesKeysOrCopiesWholeSections) {
  const char16_t* english = u"[Common]\r\nQM=Quit?\r\nA1=Closing\r\n;english note\r\n";
  const char16_t* german =
      u"[common]\r\nqm=Beenden?\r\nNew=Neu\r\nNew=Zweite\r\n;german "
      u"note\r\n[PageWelcome]\r\n;kept\r\nL1=Hallo\r\n";
  struct Case {
    bool overwrite;
    const char16_t* merged;
  };
  const Case cases[] = {
      {true,
       u"[Common]\r\nqm=Beenden?\r\nA1=Closing\r\n;english note\r\nNew=Neu\r\n\r\n"
       u"[PageWelcome]\r\n;kept\r\nL1=Hallo\r\n\r\n"},
      {false,
       u"[Common]\r\nQM=Quit?\r\nA1=Closing\r\n;english note\r\nNew=Neu\r\n\r\n"
       u"[PageWelcome]\r\n;kept\r\nL1=Hallo\r\n\r\n"},
  };
  for (const Case& c : cases) {
    auto target = FromText(english);
    auto source = FromText(german);
    target->Merge(*source, c.overwrite);
    EXPECT_EQ(target->SaveToText(), c.merged) << c.overwrite;
    target->Merge(*target, true);  // merging a file over itself changes nothing
    EXPECT_EQ(target->SaveToText(), c.merged) << c.overwrite;
  }
}

TEST(IniFile, ChangesNotifyOutsideUpdateBrackets) {
  TZELIniFile ini;
  int notified = 0;
  ini.SetOnChange([&](TZELIniFile&) { ++notified; });
  ini.BeginUpdate();
  ini.BeginUpdate();
  ini.WriteString(u"S", u"a", u"1");
  ini.EndUpdate();
  EXPECT_EQ(notified, 0);
  EXPECT_TRUE(ini.Modified());
  ini.EndUpdate();
  ini.EndUpdate();  // unbalanced: ignored
  EXPECT_EQ(notified, 1);

  ini.LoadFromText(u"[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n");
  EXPECT_EQ(notified, 2);  // one load, one notification
  ini.SetModified(false);
  EXPECT_FALSE(ini.DeleteKey(u"A", u"missing"));
  EXPECT_FALSE(ini.EraseSection(u"missing"));
  EXPECT_FALSE(ini.Modified());  // failed deletes change nothing
  EXPECT_EQ(notified, 2);
}

// --- Encodings

TEST(IniFile, LoadFromStreamDetectsTheByteOrderMark) {
  const String text = u"[S]\r\nk=\u00e4\u0416\U0001F3B5\r\n";
  struct Case {
    std::vector<uint8_t> bytes;
    TZELIniEncoding encoding;
    String value;
  };
  std::vector<uint8_t> oddLE = EncodeIniText(text, TZELIniEncoding::Utf16LE);
  oddLE.push_back(0x41);  // an odd last byte is dropped
  std::vector<uint8_t> badUtf8{0xEF, 0xBB, 0xBF};
  for (uint8_t b : Bytes("[S]\r\nk=M\xe4rz\r\n")) badUtf8.push_back(b);
  const Case cases[] = {
      {EncodeIniText(text, TZELIniEncoding::Utf8), TZELIniEncoding::Utf8, u"\u00e4\u0416\U0001F3B5"},
      {EncodeIniText(text, TZELIniEncoding::Utf16LE), TZELIniEncoding::Utf16LE, u"\u00e4\u0416\U0001F3B5"},
      {EncodeIniText(text, TZELIniEncoding::Utf16BE), TZELIniEncoding::Utf16BE, u"\u00e4\u0416\U0001F3B5"},
      {oddLE, TZELIniEncoding::Utf16LE, u"\u00e4\u0416\U0001F3B5"},
      {badUtf8, TZELIniEncoding::Utf8, AnsiExpected("M\xe4rz")},  // not UTF-8 after all: ANSI
      {Bytes("[S]\r\nk=M\xe4rz"), TZELIniEncoding::Ansi, AnsiExpected("M\xe4rz")},
      {Bytes("[S]\r\nk=\x81\x8d\x90"), TZELIniEncoding::Ansi,  // bytes 1252 leaves undefined are kept
       platform::AnsiCodePage() == 1252 ? String(u"\u0081\u008d\u0090") : String()},
      {{0xFF, 0xFE}, TZELIniEncoding::Utf16LE, String()},
      {{0xEF, 0xBB}, TZELIniEncoding::Ansi, String()},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    TZELIniFile ini;
    std::vector<uint8_t> prefixed = Bytes("junk");
    prefixed.insert(prefixed.end(), c.bytes.begin(), c.bytes.end());
    TMemoryStream stream(prefixed);
    stream.SetPosition(4);  // loading starts at the stream's position
    ini.LoadFromStream(stream);
    EXPECT_EQ(ini.Encoding(), c.encoding) << i;
    if (!c.value.empty()) {
      EXPECT_EQ(ini.ReadString(u"S", u"k", u"<def>"), c.value) << i;
    }
  }
}

TEST(IniFile, SaveToStreamWritesTheMarkThenTheText) {
  auto ini = FromText(u"[S]\r\nk=\u00e4\r\n;c\r\n =\"q\" \r\n[Empty]\r\n[\u0420\u0443\u0441]\r\n\u041a=\U0001F3B5\r\n");
  struct Case {
    TZELIniEncoding encoding;
    std::vector<uint8_t> head;
  };
  const Case cases[] = {
      {TZELIniEncoding::Utf16LE, {0xFF, 0xFE, '[', 0}},
      {TZELIniEncoding::Utf16BE, {0xFE, 0xFF, 0, '['}},
      {TZELIniEncoding::Utf8, {0xEF, 0xBB, 0xBF, '['}},
      {TZELIniEncoding::Ansi, {'[', 'S', ']', '\r'}},
  };
  for (const Case& c : cases) {
    TMemoryStream stream;
    ini->SaveToStream(stream, c.encoding);
    ASSERT_GE(stream.Bytes().size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(stream.Bytes().begin(), stream.Bytes().begin() + 4), c.head);
    stream.SetPosition(0);
    TZELIniFile back;
    back.LoadFromStream(stream);
    EXPECT_EQ(back.Encoding(), c.encoding);
    if (c.encoding != TZELIniEncoding::Ansi) {
      EXPECT_EQ(back.SaveToText(), ini->SaveToText());
    } else {  // what the code page cannot hold is lost, the rest survives
      EXPECT_EQ(back.ReadSectionText(u"S"), ini->ReadSectionText(u"S"));
    }
  }
  TMemoryStream plain;
  ini->SaveToStream(plain);
  EXPECT_EQ(plain.Bytes(), EncodeIniText(ini->SaveToText(), TZELIniEncoding::Utf16LE));
}

// --- Files

TEST(IniFile, SampleFilesLoadInTheirEncodings) {
  TZELIniFile utf8(DataPath(u"ini/utf8-bom.ini"));
  EXPECT_EQ(utf8.Encoding(), TZELIniEncoding::Utf8);
  EXPECT_EQ(utf8.ReadString(u"Common", u"E1", u""), u"Gr\u00f6\u00dfe");
  EXPECT_FALSE(utf8.Modified());

  TZELIniFile noMark(DataPath(u"ini/utf8-no-bom.ini"));
  EXPECT_EQ(noMark.Encoding(), TZELIniEncoding::Ansi);
  EXPECT_EQ(noMark.ReadString(u"Common", u"E1", u""), AnsiExpected("Gr\303\266\303\237e"));

  TZELIniFile ansi(DataPath(u"ini/ansi.ini"));
  EXPECT_EQ(ansi.Encoding(), TZELIniEncoding::Ansi);
  EXPECT_EQ(ansi.ReadString(u"Common", u"Month", u""), AnsiExpected("M\xe4rz"));
  if (platform::AnsiCodePage() == 1252) {
    EXPECT_EQ(ansi.ReadString(u"Common", u"Month", u""), u"M\u00e4rz");
  }

  TZELIniFile lng(DataPath(u"ini/russian-utf16le.lng"));
  EXPECT_EQ(lng.ReadString(u"File", u"Name", u""), u"\u0420\u0443\u0441\u0441\u043a\u0438\u0439");
  EXPECT_EQ(lng.ReadString(u"File", u"Family", u""), u"RU");
  // "[common]" joins "[Common]"; U+2028 ends a line.
  EXPECT_EQ(lng.ReadSectionText(u"Common"),
            u"QM=\u0412\u044b\u0439\u0442\u0438?\r\n"
            u"A1=\u0417\u0430\u043a\u0440\u044b\u0442\u0438\u0435 "
            u"\u043f\u0440\u0438\u043b\u043e\u0436\u0435\u043d\u0438\u0439\r\n"
            u"A2=\u041a\u043e\u043f\u0438\u0440\u043e\u0432\u0430\u043d\u0438\u0435");
  TMemoryStream icon;
  ASSERT_TRUE(lng.ReadStream(u"File", u"Icon", icon));
  EXPECT_EQ(icon.Bytes(), (std::vector<uint8_t>{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}));
}

TEST(IniFile, UpdateFileKeepsTheEncodingAndMark) {
  const String dir = ScratchDir(u"ini-update");
  struct Case {
    const char16_t* name;
    TZELIniEncoding encoding;
    bool canonical;  // the file is already in the saved form: it stays a prefix
  };
  const Case cases[] = {
      {u"utf8-bom.ini", TZELIniEncoding::Utf8, true},
      {u"utf8-no-bom.ini", TZELIniEncoding::Ansi, true},
      {u"ansi.ini", TZELIniEncoding::Ansi, true},
      {u"russian-utf16le.lng", TZELIniEncoding::Utf16LE, false},
  };
  for (const Case& c : cases) {
    const String path = dir + u"/" + c.name;
    const std::vector<uint8_t> original = ReadAll(DataPath(String(u"ini/") + c.name));
    WriteAll(path, original);
    TZELIniFile ini(path);
    EXPECT_EQ(ini.Encoding(), c.encoding) << ToUtf8(c.name);
    EXPECT_TRUE(ini.UpdateFile()) << ToUtf8(c.name);  // unmodified: nothing to write
    EXPECT_EQ(ReadAll(path), original) << ToUtf8(c.name);

    ini.WriteString(u"Added", u"Key", u"Wert");
    ASSERT_TRUE(ini.UpdateFile()) << ToUtf8(c.name);
    EXPECT_FALSE(ini.Modified());
    const std::vector<uint8_t> saved = ReadAll(path);
    EXPECT_EQ(saved, EncodeIniText(ini.SaveToText(), c.encoding)) << ToUtf8(c.name);
    const size_t keep = c.canonical ? original.size() : 2;  // at least the mark
    ASSERT_GE(saved.size(), keep);
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + keep, saved.begin())) << ToUtf8(c.name);
    TZELIniFile back(path);
    EXPECT_EQ(back.ReadString(u"Added", u"Key", u""), u"Wert");
    EXPECT_EQ(back.Encoding(), c.encoding);
  }
}

TEST(IniFile, LoadFromFileOfAMissingFileIsEmptyWithoutError) {
  const String path = ScratchDir(u"ini-missing") + u"/absent.ini";
  TZELIniFile ini;
  ini.WriteString(u"Stale", u"k", u"v");
  ini.LoadFromFile(path);
  EXPECT_TRUE(ini.IsEmpty());
  EXPECT_EQ(ini.FileName(), path);
  EXPECT_FALSE(ini.Modified());
  EXPECT_EQ(ini.Encoding(), TZELIniEncoding::Utf16LE);

  TZELIniFile folder(ScratchDir(u"ini-folder"));  // a folder is no file either
  EXPECT_TRUE(folder.IsEmpty());
}

TEST(IniFile, SaveFailuresAreReturnedNotThrown) {
  const String dir = ScratchDir(u"ini-save");
  const String impossible = dir + u"/no/such/folder/x.ini";
  TZELIniFile ini;
  ini.WriteString(u"S", u"k", u"v");
  EXPECT_FALSE(ini.SaveToFile(impossible, TZELIniEncoding::Utf8));
  EXPECT_FALSE(ini.UpdateFile());  // no file name

  ini.SetFileName(impossible);
  EXPECT_FALSE(ini.UpdateFile());
  EXPECT_TRUE(ini.Modified());  // still unsaved
  {
    TZELIniFile autoSaved(impossible, true);
    autoSaved.WriteString(u"S", u"k", u"v");
  }  // destroyed without an exception
  EXPECT_FALSE(std::filesystem::exists(FsPath(impossible)));
}

TEST(IniFile, AutoSaveWritesOnlyModifiedFiles) {
  const String path = ScratchDir(u"ini-autosave") + u"/KIVO.ini";
  {
    TZELIniFile ini(path, true);
    EXPECT_TRUE(ini.IsEmpty());
  }
  EXPECT_FALSE(std::filesystem::exists(FsPath(path)));
  {
    TZELIniFile ini(path, true);
    ini.WriteInteger(u"System", u"Version", 5100);
  }
  {
    TZELIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger(u"System", u"Version", 0), 5100);
    EXPECT_EQ(ini.Encoding(), TZELIniEncoding::Utf16LE);  // a new file's default
    ini.WriteInteger(u"System", u"Version", 1);
  }  // no AutoSave: not written
  EXPECT_EQ(TZELIniFile(path).ReadInteger(u"System", u"Version", 0), 5100);
}

// --- Lookups through the name index

// Names the locale may call equal although their upper-case mappings differ: whatever
// SameText says, every lookup must say the same, both for sections and for keys.
TEST(IniFile, LookupsAgreeWithSameTextForEveryPair) {
  struct Pair {
    const char16_t* a;
    const char16_t* b;
  };
  const Pair pairs[] = {
      {u"\u03c3", u"\u03c2"},  // sigma, final sigma
      {u"\u03c2", u"\u03a3"},  // final sigma, capital sigma
      {u"\u212a", u"K"},       // Kelvin sign, K
      {u"\u212a", u"k"},
      {u"\u00df", u"\u1e9e"},        // sharp s, capital sharp s
      {u"Stra\u00dfe", u"STRASSE"},  // unequal lengths: never equal
      {u"\u0130", u"i"},             // dotted capital I
      {u"\u0131", u"I"},             // dotless i
      {u"\u00c5", u"\u212b"},        // A with ring, Angstrom sign
      {u"\u0416\u0443\u043a", u"\u0436\u0423\u041a"},
      {u"Common", u"COMMON"},
      {u"Common", u"Commons"},
      {u"a-b", u"ab-"},
  };
  for (const Pair& p : pairs) {
    const bool same = SameText(p.a, p.b);
    const std::string what = ToUtf8(p.a) + " / " + ToUtf8(p.b);
    EXPECT_EQ(IniNameKey(p.a) == IniNameKey(p.b), same) << what;
    TZELIniFile ini;
    ini.WriteString(p.a, p.a, u"v");
    EXPECT_EQ(ini.SectionExists(p.b), same) << what;
    EXPECT_EQ(ini.ValueExists(p.a, p.b), same) << what;
    // A second write under the other spelling lands on the same section and line.
    ini.WriteString(p.b, p.b, u"w");
    EXPECT_EQ(ini.SectionCount(), same ? 1u : 2u) << what;
    EXPECT_EQ(ini.ReadString(p.a, p.a, u""), same ? u"w" : u"v") << what;
  }
}

TEST(IniFile, KeyIndexFollowsEveryChangeOfTheLines) {
  auto ini = FromText(u"[S]\r\na=1\r\nb=2\r\na=3\r\n");
  TZELIniFileSection& s = *ini->FindSection(u"s");
  EXPECT_EQ(s.IndexOfKey(u"A"), 0);
  s.SetLine(0, u"c=1");  // the key changes: the duplicate below becomes the first a
  EXPECT_EQ(s.IndexOfKey(u"a"), 2);
  EXPECT_EQ(s.IndexOfKey(u"c"), 0);
  s.Delete(0);
  EXPECT_EQ(s.IndexOfKey(u"b"), 0);
  EXPECT_EQ(s.IndexOfKey(u"a"), 1);
  EXPECT_EQ(s.IndexOfKey(u"c"), -1);
  s.Add(u"b=again");  // appended duplicates never win
  s.Add(u"d=4");
  EXPECT_EQ(s.IndexOfKey(u"b"), 0);
  EXPECT_EQ(s.IndexOfKey(u"D"), 3);
  EXPECT_EQ(s.IndexOfKey(u""), -1);
  s.Add(u"no separator");  // an empty key, as a line without "=" has
  EXPECT_EQ(s.IndexOfKey(u""), 4);
  s.Clear();
  EXPECT_EQ(s.IndexOfKey(u"a"), -1);
  s.Add(u"a=5");
  EXPECT_EQ(ini->ReadString(u"S", u"a", u""), u"5");
}

// A hostile file of many sections and keys: every documented rule holds at that size
// (first match wins, repeated headers merge, order kept). Quadratic lookups took
// minutes here.
TEST(IniFile, HundredThousandSectionsLoadAndMerge) {
  constexpr int kSections = 100000;
  String text;
  for (int i = 0; i < kSections; ++i) text += u"[S" + IntToStr(i) + u"]\r\nk=" + IntToStr(i) + u"\r\n";
  for (int i = 0; i < kSections; i += 1000) text += u"[s" + IntToStr(i) + u"]\r\nk=late\r\nx=" + IntToStr(i) + u"\r\n";
  String keys = u"[Many]\r\n";
  for (int i = 0; i < kSections; ++i) keys += u"K" + IntToStr(i % (kSections / 2)) + u"=" + IntToStr(i) + u"\r\n";
  text += keys;

  TZELIniFile ini;
  ini.LoadFromText(text);
  ASSERT_EQ(ini.SectionCount(), static_cast<size_t>(kSections + 1));
  EXPECT_EQ(ini.SectionName(12345), u"S12345");
  EXPECT_EQ(ini.SectionName(kSections), u"Many");
  for (int i = 0; i < kSections; i += 997) {
    EXPECT_EQ(ini.ReadString(u"s" + IntToStr(i), u"K", u""), IntToStr(i));
    EXPECT_EQ(ini.ReadString(u"S" + IntToStr(i), u"x", u"-"), i % 1000 == 0 ? IntToStr(i) : u"-");
  }
  EXPECT_EQ(ini.ReadString(u"many", u"k49999", u""), u"49999");  // the first of two lines

  // Merging the whole file over an English base, and then over itself with overwrite.
  TZELIniFile merged;
  merged.LoadFromText(u"[S7]\r\nk=base\r\nonly=base\r\n");
  merged.Merge(ini, false);
  merged.Merge(ini, true);
  EXPECT_EQ(merged.SectionCount(), static_cast<size_t>(kSections + 1));
  EXPECT_EQ(merged.SectionName(0), u"S7");
  EXPECT_EQ(merged.ReadString(u"S7", u"k", u""), u"7");
  EXPECT_EQ(merged.ReadString(u"S7", u"only", u""), u"base");
  std::vector<String> many;
  merged.ReadKeys(u"Many", many);
  EXPECT_EQ(many.size(), static_cast<size_t>(kSections));
  EXPECT_EQ(merged.SaveToText().size() > text.size() / 2, true);
}
