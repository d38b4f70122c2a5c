#pragma once
// The INI document of the component library: language files,
// "Uninstall.ini", "addons.ini", the product's configuration file and the installer's
// options. The whole file lives in memory as an ordered list of sections, each an ordered
// list of raw lines. The syntax is deliberately plain: no comments, no quoting, no
// escapes, no trimming; a line's key is the text before its first "=".
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "library/Streams.h"
#include "library/Strings.h"

namespace zel {

class TZELIniFile;

// Text encodings of INI files. Every one but Ansi is written with its byte-order mark.
enum class TZELIniEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

// The lookup key of a section or key name: equal for two names exactly when SameText
// calls them equal (the same length, and equal under the locale's case-insensitive
// comparison), so one hash index serves every lookup.
String IniNameKey(StringView name);

class TZELIniFileSection {
public:
  TZELIniFileSection(TZELIniFile* owner, StringView name);
  TZELIniFileSection(const TZELIniFileSection&) = delete;
  TZELIniFileSection& operator=(const TZELIniFileSection&) = delete;

  const String& Name() const { return FName; }
  const String& NameKey() const { return FNameKey; }

  // The raw lines in file order.
  size_t Count() const { return FLines.size(); }
  const String& Line(size_t index) const { return FLines[index]; }
  // Everything before the first "=" (empty without one) and everything after it
  // (the whole line without one).
  String Key(size_t index) const;
  String Value(size_t index) const;
  // The index of the first line whose key matches, or -1. Constant time on average: the
  // section keeps an index from key to first line, built at the first lookup.
  ptrdiff_t IndexOfKey(StringView key) const;

  // Each change tells the owning file.
  void Add(StringView line);
  void SetLine(size_t index, StringView line);
  void Delete(size_t index);
  void Clear();
  // The lines joined by CR LF, without a break after the last.
  String Text() const;

private:
  static size_t KeyLength(StringView line);
  static String LineKey(StringView line);
  void BuildKeyIndex() const;
  void Changed();

  TZELIniFile* FOwner;
  String FName;
  String FNameKey;
  std::vector<String> FLines;
  // Key of a line -> index of the first line with that key; valid only while
  // FKeyIndexValid. Appending keeps it current; replacing a line's key or deleting a line
  // drops it, to be rebuilt by the next lookup.
  mutable std::unordered_map<String, size_t> FKeyIndex;
  mutable bool FKeyIndexValid = false;
};

class TZELIniFile {
public:
  using TChangeNotifier = std::function<void(TZELIniFile& sender)>;

  // An empty document that lives in memory.
  TZELIniFile();
  // Loads fileName at once (a missing file gives an empty document). With autoSave,
  // destruction writes a modified document back to it.
  explicit TZELIniFile(StringView fileName, bool autoSave = false);
  virtual ~TZELIniFile();
  TZELIniFile(const TZELIniFile&) = delete;
  TZELIniFile& operator=(const TZELIniFile&) = delete;

  // Sets Modified and, outside an update bracket, runs the change notifier.
  virtual void Changed();

  // --- Reading. Section and key names compare case-insensitively under the user's
  // locale; equality also needs equal length.
  virtual bool ValueExists(StringView section, StringView key);
  virtual bool SectionExists(StringView section);
  virtual bool IsEmpty();
  // Signed 32-bit: decimal, or hexadecimal with "$" or "0x"; the default when the key
  // is missing or its value does not convert.
  virtual int32_t ReadInteger(StringView section, StringView key, int32_t defaultValue);
  // The value of the first line whose key matches; false (value empty) when missing.
  virtual bool TryReadString(StringView section, StringView key, String& value);
  String ReadString(StringView section, StringView key, StringView defaultValue = {});
  // Non-zero is true; "true" or "yes" do not convert and give the default.
  bool ReadBool(StringView section, StringView key, bool defaultValue);
  // Decodes a hexadecimal value into stream at its position and moves the position back
  // to the first byte written. False, with the stream untouched, for a missing or empty
  // value, an odd number of digits or a character that is no hexadecimal digit.
  bool ReadStream(StringView section, StringView key, TStream& stream);
  // Appends the non-empty keys of the section in order (duplicates included).
  void ReadKeys(StringView section, std::vector<String>& keys);
  void ReadSections(std::vector<String>& names) const;
  String ReadSectionText(StringView section);

  size_t SectionCount() const { return FSections.size(); }
  const String& SectionName(size_t index) const { return FSections[index]->Name(); }
  TZELIniFileSection& Section(size_t index) { return *FSections[index]; }
  // The section of that name, or nullptr.
  TZELIniFileSection* FindSection(StringView name);

  // --- Writing. Every write creates a missing section after the existing ones.
  virtual void WriteString(StringView section, StringView key, StringView value);
  void WriteInteger(StringView section, StringView key, int32_t value);
  void WriteBool(StringView section, StringView key, bool value);
  // The whole stream as upper-case hexadecimal text; an empty stream removes the key.
  // The stream's position is kept.
  void WriteStream(StringView section, StringView key, TStream& stream);
  bool DeleteKey(StringView section, StringView key);
  bool EraseSection(StringView section);
  // Replaces the section's lines by the non-empty lines of text.
  void WriteSectionText(StringView section, StringView text);
  // Copies other's sections in: keys of sections present here are written one by one
  // (existing keys only with overwrite), missing sections are copied whole.
  void Merge(TZELIniFile& other, bool overwrite);
  // Replaces the content by other's serialised text.
  void Assign(TZELIniFile& other);
  void Clear();
  // Brackets nest; the last EndUpdate runs Changed once.
  void BeginUpdate();
  void EndUpdate();

  // --- Loading and saving.
  // Clears, remembers the name and loads the file; a file that cannot be opened leaves
  // the document empty without error. Clears Modified.
  virtual void LoadFromFile(StringView fileName);
  // Detects the encoding by its byte-order mark (ANSI without one), stores it in
  // Encoding and loads the rest of the stream.
  virtual void LoadFromStream(TStream& stream);
  virtual void LoadFromText(StringView text);
  // The byte-order mark of the encoding, then the serialised text.
  virtual void SaveToStream(TStream& stream, TZELIniEncoding encoding = TZELIniEncoding::Utf16LE);
  // False, without error, when the file cannot be created; a failure while writing the
  // created file propagates. Read-only and hidden files are replaced.
  bool SaveToFile(StringView fileName, TZELIniEncoding encoding);
  // Saves a modified document to FileName in Encoding; clears Modified on success.
  virtual bool UpdateFile();
  // The serialised text: every section with lines as "[name]", its lines and an empty
  // line, all breaks CR LF.
  String SaveToText() const;

  const String& FileName() const { return FFileName; }
  void SetFileName(StringView fileName) { FFileName = String(fileName); }
  bool AutoSave() const { return FAutoSave; }
  void SetAutoSave(bool value) { FAutoSave = value; }
  TZELIniEncoding Encoding() const { return FEncoding; }
  void SetEncoding(TZELIniEncoding value) { FEncoding = value; }
  bool Modified() const { return FModified; }
  void SetModified(bool value) { FModified = value; }
  void SetOnChange(TChangeNotifier notifier) { FOnChange = std::move(notifier); }

protected:
  TZELIniFileSection& FindOrAddSection(StringView name);

private:
  String FFileName;
  bool FAutoSave = false;
  TZELIniEncoding FEncoding = TZELIniEncoding::Utf16LE;
  bool FModified = false;
  int FUpdateCount = 0;
  std::vector<std::unique_ptr<TZELIniFileSection>> FSections;
  // Name key -> section. Repeated headers merge, so every key names one section.
  std::unordered_map<String, TZELIniFileSection*> FSectionIndex;
  TZELIniFileSection* FLastFound = nullptr;
  TChangeNotifier FOnChange;
};

// Decodes INI file bytes (byte-order mark included) as LoadFromStream does.
String DecodeIniText(const uint8_t* data, size_t size, TZELIniEncoding& encoding);
// The byte-order mark and the text in the encoding.
std::vector<uint8_t> EncodeIniText(StringView text, TZELIniEncoding encoding);

}  // namespace zel
