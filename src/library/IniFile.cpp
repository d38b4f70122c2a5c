#include "library/IniFile.h"

#include <algorithm>

#include "platform/Platform.h"

namespace zel {

namespace {

constexpr char16_t kSeparator = u'=';
constexpr char16_t kLineSeparator = u'\u2028';
constexpr size_t kReadBufferSize = 256 * 1024;

bool IsLineBreak(char16_t c) { return c == u'\r' || c == u'\n' || c == kLineSeparator; }

// Calls action for every non-empty line of text. Breaks are CR, LF, CR LF and U+2028
// (which may be followed by its own CR LF); as empty lines are skipped, every run of
// break characters simply ends a line.
template <typename Action>
void ForEachLine(StringView text, Action action) {
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || IsLineBreak(text[i])) {
      if (i > start) action(text.substr(start, i - start));
      start = i + 1;
    }
  }
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

String Latin1(const uint8_t* data, size_t size) { return String(data, data + size); }

String DecodeAnsi(const uint8_t* data, size_t size) {
  String text;
  if (platform::DecodeCodePage(reinterpret_cast<const char*>(data), size, 0, text)) return text;
  // Bytes the code page does not define: keep one character per byte rather than lose
  // the whole file.
  return Latin1(data, size);
}

String DecodeUtf16(const uint8_t* data, size_t size, bool bigEndian) {
  String text(size / 2, u'\0');  // an odd last byte is dropped
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t lo = data[2 * i + (bigEndian ? 1 : 0)], hi = data[2 * i + (bigEndian ? 0 : 1)];
    text[i] = static_cast<char16_t>(lo | (hi << 8));
  }
  return text;
}

void AppendUtf16(std::vector<uint8_t>& out, StringView text, bool bigEndian) {
  out.reserve(out.size() + text.size() * 2);
  for (char16_t c : text) {
    const auto lo = static_cast<uint8_t>(c & 0xFF), hi = static_cast<uint8_t>(c >> 8);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  }
}

}  // namespace

String IniNameKey(StringView name) {
  // The length first: SameText needs equal lengths, the locale's comparison does not.
  String key;
  const uint64_t length = name.size();
  for (int shift = 0; shift < 64; shift += 16) key += static_cast<char16_t>(length >> shift);
  key += platform::CaseInsensitiveKey(name);
  return key;
}

String DecodeIniText(const uint8_t* data, size_t size, TZELIniEncoding& encoding) {
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
    encoding = TZELIniEncoding::Utf8;
    String text;
    if (TryFromUtf8(std::string_view(reinterpret_cast<const char*>(data) + 3, size - 3), text)) return text;
    return DecodeAnsi(data + 3, size - 3);
  }
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    encoding = TZELIniEncoding::Utf16LE;
    return DecodeUtf16(data + 2, size - 2, false);
  }
  if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
    encoding = TZELIniEncoding::Utf16BE;
    return DecodeUtf16(data + 2, size - 2, true);
  }
  encoding = TZELIniEncoding::Ansi;
  return DecodeAnsi(data, size);
}

std::vector<uint8_t> EncodeIniText(StringView text, TZELIniEncoding encoding) {
  std::vector<uint8_t> out;
  switch (encoding) {
    case TZELIniEncoding::Ansi: {
      const std::string bytes = platform::EncodeCodePage(text, 0);
      out.assign(bytes.begin(), bytes.end());
      break;
    }
    case TZELIniEncoding::Utf8: {
      const std::string bytes = ToUtf8(text);
      out = {0xEF, 0xBB, 0xBF};
      out.insert(out.end(), bytes.begin(), bytes.end());
      break;
    }
    case TZELIniEncoding::Utf16LE:
      out = {0xFF, 0xFE};
      AppendUtf16(out, text, false);
      break;
    case TZELIniEncoding::Utf16BE:
      out = {0xFE, 0xFF};
      AppendUtf16(out, text, true);
      break;
  }
  return out;
}

// --- TZELIniFileSection

TZELIniFileSection::TZELIniFileSection(TZELIniFile* owner, StringView name)
    : FOwner(owner), FName(name), FNameKey(IniNameKey(name)) {}

size_t TZELIniFileSection::KeyLength(StringView line) {
  const size_t p = line.find(kSeparator);
  return p == StringView::npos ? 0 : p;
}

String TZELIniFileSection::LineKey(StringView line) { return IniNameKey(line.substr(0, KeyLength(line))); }

String TZELIniFileSection::Key(size_t index) const {
  const String& line = FLines[index];
  return line.substr(0, KeyLength(line));
}

String TZELIniFileSection::Value(size_t index) const {
  const String& line = FLines[index];
  const size_t p = line.find(kSeparator);
  return p == String::npos ? line : line.substr(p + 1);
}

void TZELIniFileSection::BuildKeyIndex() const {
  FKeyIndex.clear();
  FKeyIndex.reserve(FLines.size());
  // emplace keeps an existing entry: the first line with a key wins.
  for (size_t i = 0; i < FLines.size(); ++i) FKeyIndex.emplace(LineKey(FLines[i]), i);
  FKeyIndexValid = true;
}

ptrdiff_t TZELIniFileSection::IndexOfKey(StringView key) const {
  if (FLines.empty()) return -1;
  if (!FKeyIndexValid) BuildKeyIndex();
  const auto found = FKeyIndex.find(IniNameKey(key));
  return found == FKeyIndex.end() ? -1 : static_cast<ptrdiff_t>(found->second);
}

void TZELIniFileSection::Changed() {
  if (FOwner) FOwner->Changed();
}

void TZELIniFileSection::Add(StringView line) {
  FLines.emplace_back(line);
  // A section being loaded has no index yet: it is built at the first lookup instead.
  if (FKeyIndexValid) FKeyIndex.emplace(LineKey(FLines.back()), FLines.size() - 1);
  Changed();
}

void TZELIniFileSection::SetLine(size_t index, StringView line) {
  // WriteString replaces a line by one with the same key (perhaps spelt differently):
  // the index stays right. Any other key change moves first matches around.
  if (FKeyIndexValid && LineKey(FLines[index]) != LineKey(line)) FKeyIndexValid = false;
  FLines[index] = String(line);
  Changed();
}

void TZELIniFileSection::Delete(size_t index) {
  FLines.erase(FLines.begin() + static_cast<ptrdiff_t>(index));
  FKeyIndexValid = false;
  Changed();
}

void TZELIniFileSection::Clear() {
  FLines.clear();
  FKeyIndex.clear();
  FKeyIndexValid = false;
  Changed();
}

String TZELIniFileSection::Text() const {
  String text;
  for (size_t i = 0; i < FLines.size(); ++i) {
    if (i) text += u"\r\n";
    text += FLines[i];
  }
  return text;
}

// --- TZELIniFile: life cycle

TZELIniFile::TZELIniFile() = default;

TZELIniFile::TZELIniFile(StringView fileName, bool autoSave) : FAutoSave(autoSave) {
  // Not a virtual call here: a subclass that loads differently loads in its own constructor.
  TZELIniFile::LoadFromFile(fileName);
}

TZELIniFile::~TZELIniFile() {
  if (!FAutoSave) return;
  try {
    UpdateFile();
  } catch (...) {
    // A destructor cannot report: an auto-saved file that fails to write is lost
    // silently, as one that cannot be created is.
  }
}

void TZELIniFile::Changed() {
  FModified = true;
  if (FUpdateCount == 0 && FOnChange) FOnChange(*this);
}

void TZELIniFile::BeginUpdate() { ++FUpdateCount; }

void TZELIniFile::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0) Changed();
}

// --- Lookup

TZELIniFileSection* TZELIniFile::FindSection(StringView name) {
  // The same spelling as last time needs no key.
  if (FLastFound && FLastFound->Name() == name) return FLastFound;
  const auto found = FSectionIndex.find(IniNameKey(name));
  if (found == FSectionIndex.end()) return nullptr;
  FLastFound = found->second;
  return FLastFound;
}

TZELIniFileSection& TZELIniFile::FindOrAddSection(StringView name) {
  if (TZELIniFileSection* section = FindSection(name)) return *section;
  FSections.push_back(std::make_unique<TZELIniFileSection>(this, name));
  FLastFound = FSections.back().get();
  FSectionIndex.emplace(FLastFound->NameKey(), FLastFound);
  Changed();
  return *FLastFound;
}

// --- Reading

bool TZELIniFile::SectionExists(StringView section) { return FindSection(section) != nullptr; }

bool TZELIniFile::ValueExists(StringView section, StringView key) {
  const TZELIniFileSection* s = FindSection(section);
  return s && s->IndexOfKey(key) >= 0;
}

bool TZELIniFile::IsEmpty() { return FSections.empty(); }

bool TZELIniFile::TryReadString(StringView section, StringView key, String& value) {
  value.clear();
  const TZELIniFileSection* s = FindSection(section);
  if (!s) return false;
  const ptrdiff_t index = s->IndexOfKey(key);
  if (index < 0) return false;
  value = s->Value(static_cast<size_t>(index));
  return true;
}

String TZELIniFile::ReadString(StringView section, StringView key, StringView defaultValue) {
  String value;
  return TryReadString(section, key, value) ? value : String(defaultValue);
}

int32_t TZELIniFile::ReadInteger(StringView section, StringView key, int32_t defaultValue) {
  String text;
  if (!TryReadString(section, key, text)) return defaultValue;
  int32_t value;
  return TryStrToInt(text, value) ? value : defaultValue;
}

bool TZELIniFile::ReadBool(StringView section, StringView key, bool defaultValue) {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TZELIniFile::ReadStream(StringView section, StringView key, TStream& stream) {
  String text;
  if (!TryReadString(section, key, text) || text.empty() || text.size() % 2 != 0) return false;
  std::vector<uint8_t> bytes(text.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  const int64_t start = stream.Position();
  stream.WriteBuffer(bytes.data(), bytes.size());
  stream.SetPosition(start);
  return true;
}

void TZELIniFile::ReadKeys(StringView section, std::vector<String>& keys) {
  const TZELIniFileSection* s = FindSection(section);
  if (!s) return;
  for (size_t i = 0; i < s->Count(); ++i) {
    String key = s->Key(i);
    if (!key.empty()) keys.push_back(std::move(key));
  }
}

void TZELIniFile::ReadSections(std::vector<String>& names) const {
  for (const auto& section : FSections) names.push_back(section->Name());
}

String TZELIniFile::ReadSectionText(StringView section) {
  const TZELIniFileSection* s = FindSection(section);
  return s ? s->Text() : String();
}

// --- Writing

void TZELIniFile::WriteString(StringView section, StringView key, StringView value) {
  TZELIniFileSection& s = FindOrAddSection(section);
  String line(key);
  line += kSeparator;
  line += value;
  const ptrdiff_t index = s.IndexOfKey(key);
  if (index >= 0) s.SetLine(static_cast<size_t>(index), line);
  else s.Add(line);
}

void TZELIniFile::WriteInteger(StringView section, StringView key, int32_t value) {
  WriteString(section, key, IntToStr(value));
}

void TZELIniFile::WriteBool(StringView section, StringView key, bool value) {
  WriteString(section, key, value ? u"1" : u"0");
}

void TZELIniFile::WriteStream(StringView section, StringView key, TStream& stream) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  const int64_t position = stream.Position();
  const int64_t size = stream.Size();
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  stream.SetPosition(0);
  stream.ReadBuffer(bytes.data(), bytes.size());
  stream.SetPosition(position);
  if (bytes.empty()) {
    DeleteKey(section, key);
    return;
  }
  String text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  WriteString(section, key, text);
}

bool TZELIniFile::DeleteKey(StringView section, StringView key) {
  TZELIniFileSection* s = FindSection(section);
  if (!s) return false;
  const ptrdiff_t index = s->IndexOfKey(key);
  if (index < 0) return false;
  s->Delete(static_cast<size_t>(index));
  return true;
}

bool TZELIniFile::EraseSection(StringView section) {
  TZELIniFileSection* s = FindSection(section);
  if (!s) return false;
  if (FLastFound == s) FLastFound = nullptr;
  FSectionIndex.erase(s->NameKey());
  for (auto it = FSections.begin(); it != FSections.end(); ++it) {
    if (it->get() == s) {
      FSections.erase(it);
      break;
    }
  }
  Changed();
  return true;
}

void TZELIniFile::WriteSectionText(StringView section, StringView text) {
  BeginUpdate();
  try {
    TZELIniFileSection& s = FindOrAddSection(section);
    s.Clear();
    ForEachLine(text, [&](StringView line) { s.Add(line); });
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TZELIniFile::Merge(TZELIniFile& other, bool overwrite) {
  if (&other == this) return;  // every key already holds its own value
  BeginUpdate();
  try {
    for (const auto& from : other.FSections) {
      if (TZELIniFileSection* to = FindSection(from->Name())) {
        for (size_t i = 0; i < from->Count(); ++i) {
          const String key = from->Key(i);
          // Lines without a key are not values; a repeated key is read as its first line.
          if (key.empty()) continue;
          if (!overwrite && to->IndexOfKey(key) >= 0) continue;
          const ptrdiff_t first = from->IndexOfKey(key);
          WriteString(from->Name(), key, from->Value(static_cast<size_t>(first)));
        }
      } else {
        TZELIniFileSection& added = FindOrAddSection(from->Name());
        for (size_t i = 0; i < from->Count(); ++i) added.Add(from->Line(i));
      }
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TZELIniFile::Assign(TZELIniFile& other) {
  if (&other == this) return;
  LoadFromText(other.SaveToText());
}

void TZELIniFile::Clear() {
  FSections.clear();
  FSectionIndex.clear();
  FLastFound = nullptr;
  Changed();
}

// --- Loading and saving

void TZELIniFile::LoadFromFile(StringView fileName) {
  BeginUpdate();
  try {
    Clear();
    FFileName = String(fileName);
    std::unique_ptr<TBufferedFileStream> stream;
    try {
      stream = std::make_unique<TBufferedFileStream>(platform::ExtendedLengthPath(fileName), FileMode::OpenRead,
                                                     platform::ShareRead | platform::ShareWrite, kReadBufferSize);
    } catch (const EFOpenError&) {
      // A missing or locked file reads as an empty document.
    }
    if (stream) LoadFromStream(*stream);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  FModified = false;
}

void TZELIniFile::LoadFromStream(TStream& stream) {
  // Read to the end, with the size only as a hint: some handles (a folder opened as a
  // file on Linux) report sizes they cannot deliver.
  const int64_t hint = stream.Size() - stream.Position();
  size_t chunk = hint > 0 && hint < static_cast<int64_t>(kReadBufferSize) ? static_cast<size_t>(hint) : 4096;
  std::vector<uint8_t> bytes;
  for (;;) {
    const size_t have = bytes.size();
    bytes.resize(have + chunk);
    const size_t n = stream.Read(bytes.data() + have, chunk);
    bytes.resize(have + n);
    if (n == 0) break;
    chunk = std::min(std::max<size_t>(chunk * 2, 4096), kReadBufferSize);
  }
  TZELIniEncoding encoding;
  const String text = DecodeIniText(bytes.data(), bytes.size(), encoding);
  FEncoding = encoding;
  LoadFromText(text);
}

void TZELIniFile::LoadFromText(StringView text) {
  BeginUpdate();
  try {
    Clear();
    TZELIniFileSection* current = nullptr;
    ForEachLine(text, [&](StringView line) {
      if (line[0] == u'[') {
        // The name is the line without its first and last characters, whatever they are.
        current = &FindOrAddSection(line.size() >= 2 ? line.substr(1, line.size() - 2) : StringView());
      } else if (current) {
        current->Add(line);
      }
    });
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

String TZELIniFile::SaveToText() const {
  String text;
  for (const auto& section : FSections) {
    if (section->Count() == 0) continue;
    text += u'[';
    text += section->Name();
    text += u"]\r\n";
    for (size_t i = 0; i < section->Count(); ++i) {
      text += section->Line(i);
      text += u"\r\n";
    }
    text += u"\r\n";
  }
  return text;
}

void TZELIniFile::SaveToStream(TStream& stream, TZELIniEncoding encoding) {
  const std::vector<uint8_t> bytes = EncodeIniText(SaveToText(), encoding);
  stream.WriteBuffer(bytes.data(), bytes.size());
}

bool TZELIniFile::SaveToFile(StringView fileName, TZELIniEncoding encoding) {
  const String path = platform::ExtendedLengthPath(fileName);
  // A read-only or hidden file cannot be replaced as it is; a missing file has nothing to clear.
  platform::ClearFileAttributes(path);
  std::unique_ptr<TFileStream> file;
  try {
    file = std::make_unique<TFileStream>(path, FileMode::Create);
  } catch (const EFCreateError&) {
    return false;
  }
  SaveToStream(*file, encoding);
  if (!FFileName.empty() && SameText(fileName, FFileName)) FModified = false;
  return true;
}

bool TZELIniFile::UpdateFile() {
  if (FFileName.empty()) return false;
  if (!FModified) return true;  // the file already holds this content
  if (!SaveToFile(FFileName, FEncoding)) return false;
  FModified = false;
  return true;
}

}  // namespace zel
