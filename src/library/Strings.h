#pragma once
// String helpers of the component library. The program's one string type is
// std::u16string: UTF-16 code units, the unit in which Windows counts characters.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

using String = std::u16string;
using StringView = std::u16string_view;

// UTF-8 <-> UTF-16. Invalid UTF-8 sequences become U+FFFD; unpaired surrogates
// are written as their 3-byte forms so nothing is silently lost.
String FromUtf8(std::string_view text);
std::string ToUtf8(StringView text);
// Strict UTF-8 decoding: false on any invalid sequence.
bool TryFromUtf8(std::string_view text, String& out);

// Literal-free conversion for ASCII text in code ("abc" -> u"abc").
String Ascii(std::string_view text);

// Removes every character with a code below 33 from both ends.
String Trim(StringView text);
String TrimLeft(StringView text);
String TrimRight(StringView text);

// Case-insensitive comparison under the user's locale (platform service);
// equality also requires equal length.
bool SameText(StringView a, StringView b);
int CompareText(StringView a, StringView b);
String UpperCase(StringView text);
String LowerCase(StringView text);
// Invariant ASCII-only case folding, for protocol words.
bool SameTextAscii(StringView a, StringView b);

bool StartsWith(StringView text, StringView prefix);
bool StartsWithText(StringView text, StringView prefix);  // case-insensitive
bool EndsWithText(StringView text, StringView suffix);    // case-insensitive

String IntToStr(long long value);
// Signed 32-bit conversion: optional leading spaces and sign, decimal or hex with
// "$" or "0x". False on anything else or on overflow.
bool TryStrToInt(StringView text, int32_t& value);
int32_t StrToIntDef(StringView text, int32_t fallback);

std::vector<String> Split(StringView text, char16_t separator);
String Join(const std::vector<String>& items, StringView separator);
String ReplaceAll(StringView text, StringView what, StringView with);

// Paths (Windows conventions: "\" separators, folders with a trailing backslash).
String IncludeTrailingBackslash(StringView path);
String ExcludeTrailingBackslash(StringView path);
String ExtractFileName(StringView path);
String ExtractFilePath(StringView path);  // with trailing separator
String ExtractFileExt(StringView path);   // with the dot
String ChangeFileExt(StringView path, StringView ext);

// printf-style formatting of the program's message templates: %s takes a string,
// %d/%u/%x an integer, %% a percent sign. Missing arguments format as empty text.
class FormatArg {
public:
  FormatArg(StringView s) : FText(s), FIsText(true) {}
  FormatArg(const String& s) : FText(s), FIsText(true) {}
  FormatArg(const char16_t* s) : FText(s), FIsText(true) {}
  FormatArg(int v) : FNumber(v) {}
  FormatArg(unsigned v) : FNumber(v) {}
  FormatArg(long v) : FNumber(v) {}
  FormatArg(unsigned long v) : FNumber(static_cast<long long>(v)) {}
  FormatArg(long long v) : FNumber(v) {}
  FormatArg(unsigned long long v) : FNumber(static_cast<long long>(v)) {}
  bool IsText() const { return FIsText; }
  StringView Text() const { return FText; }
  long long Number() const { return FNumber; }

private:
  StringView FText;
  long long FNumber = 0;
  bool FIsText = false;
};
String FormatList(StringView format, std::initializer_list<FormatArg> args);
template <typename... Args>
String Format(StringView format, const Args&... args) {
  return FormatList(format, {FormatArg(args)...});
}

}  // namespace zel
