#include "library/Strings.h"

#include <algorithm>
#include <limits>

#include "platform/Platform.h"

namespace zel {

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(String& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

// Decodes one UTF-8 sequence at text[i]; returns false for an invalid one.
bool DecodeUtf8At(std::string_view text, size_t& i, uint32_t& cp) {
  const auto b0 = static_cast<uint8_t>(text[i]);
  int extra;
  uint32_t min;
  if (b0 < 0x80) {
    cp = b0;
    ++i;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (i + extra >= text.size()) return false;
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<uint8_t>(text[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF) return false;
  i += extra + 1;
  return true;
}

}  // namespace

bool TryFromUtf8(std::string_view text, String& out) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t cp;
    if (!DecodeUtf8At(text, i, cp)) return false;
    AppendUtf16(out, cp);
  }
  return true;
}

String FromUtf8(std::string_view text) {
  String out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t cp;
    if (DecodeUtf8At(text, i, cp)) {
      AppendUtf16(out, cp);
    } else {
      out += u'\uFFFD';
      ++i;
    }
  }
  return out;
}

std::string ToUtf8(StringView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

String Ascii(std::string_view text) { return String(text.begin(), text.end()); }

String TrimLeft(StringView text) {
  size_t b = 0;
  while (b < text.size() && text[b] < 33) ++b;
  return String(text.substr(b));
}

String TrimRight(StringView text) {
  size_t e = text.size();
  while (e > 0 && text[e - 1] < 33) --e;
  return String(text.substr(0, e));
}

String Trim(StringView text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] < 33) ++b;
  while (e > b && text[e - 1] < 33) --e;
  return String(text.substr(b, e - b));
}

bool SameText(StringView a, StringView b) { return a.size() == b.size() && platform::CompareTextIgnoreCase(a, b) == 0; }
int CompareText(StringView a, StringView b) { return platform::CompareTextIgnoreCase(a, b); }
String UpperCase(StringView text) { return platform::UpperCase(text); }
String LowerCase(StringView text) { return platform::LowerCase(text); }

bool SameTextAscii(StringView a, StringView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool StartsWith(StringView text, StringView prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}
bool StartsWithText(StringView text, StringView prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}
bool EndsWithText(StringView text, StringView suffix) {
  return text.size() >= suffix.size() && SameText(text.substr(text.size() - suffix.size()), suffix);
}

String IntToStr(long long value) { return Ascii(std::to_string(value)); }

bool TryStrToInt(StringView text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  unsigned base = 10;
  if (i < text.size() && text[i] == u'$') {
    base = 16, ++i;
  } else if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    base = 16, i += 2;
  }
  if (i == text.size()) return false;
  uint64_t acc = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    unsigned d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (base == 16 && c >= u'a' && c <= u'f') d = c - u'a' + 10;
    else if (base == 16 && c >= u'A' && c <= u'F') d = c - u'A' + 10;
    else return false;
    acc = acc * base + d;
    if (acc > 0xFFFFFFFFull) return false;
  }
  if (base == 16) {
    // Hex text spells the 32-bit pattern: $FFFFFFFF is -1.
    uint32_t bits = static_cast<uint32_t>(acc);
    if (negative) bits = 0u - bits;
    value = static_cast<int32_t>(bits);
    return true;
  }
  if (negative) {
    if (acc > 0x80000000ull) return false;
    value = static_cast<int32_t>(-static_cast<int64_t>(acc));
  } else {
    if (acc > 0x7FFFFFFFull) return false;
    value = static_cast<int32_t>(acc);
  }
  return true;
}

int32_t StrToIntDef(StringView text, int32_t fallback) {
  int32_t v;
  return TryStrToInt(text, v) ? v : fallback;
}

std::vector<String> Split(StringView text, char16_t separator) {
  std::vector<String> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == separator) {
      parts.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

String Join(const std::vector<String>& items, StringView separator) {
  String out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += separator;
    out += items[i];
  }
  return out;
}

String ReplaceAll(StringView text, StringView what, StringView with) {
  if (what.empty()) return String(text);
  String out;
  size_t pos = 0;
  for (;;) {
    const size_t hit = text.find(what, pos);
    if (hit == StringView::npos) break;
    out += text.substr(pos, hit - pos);
    out += with;
    pos = hit + what.size();
  }
  out += text.substr(pos);
  return out;
}

String IncludeTrailingBackslash(StringView path) {
  String out(path);
  if (out.empty() || out.back() != u'\\') out += u'\\';
  return out;
}

String ExcludeTrailingBackslash(StringView path) {
  String out(path);
  if (!out.empty() && out.back() == u'\\') out.pop_back();
  return out;
}

namespace {
size_t NameStart(StringView path) {
  const size_t p = path.find_last_of(u"\\/:");
  return p == StringView::npos ? 0 : p + 1;
}
}  // namespace

String ExtractFileName(StringView path) { return String(path.substr(NameStart(path))); }
String ExtractFilePath(StringView path) { return String(path.substr(0, NameStart(path))); }

String ExtractFileExt(StringView path) {
  const size_t start = NameStart(path);
  const size_t dot = path.find_last_of(u'.');
  if (dot == StringView::npos || dot < start) return {};
  return String(path.substr(dot));
}

String ChangeFileExt(StringView path, StringView ext) {
  const size_t start = NameStart(path);
  size_t dot = path.find_last_of(u'.');
  if (dot == StringView::npos || dot < start) dot = path.size();
  return String(path.substr(0, dot)) + String(ext);
}

String FormatList(StringView format, std::initializer_list<FormatArg> args) {
  String out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    const char16_t c = format[i];
    if (c != u'%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    const char16_t conversion = format[++i];
    if (conversion == u'%') {
      out += u'%';
      continue;
    }
    if (next == args.end()) continue;
    const FormatArg& arg = *next++;
    switch (conversion) {
      case u's':
        if (arg.IsText()) out += arg.Text();
        else out += IntToStr(arg.Number());
        break;
      case u'd':
      case u'u': out += arg.IsText() ? String(arg.Text()) : IntToStr(arg.Number()); break;
      case u'x':
      case u'X': {
        static const char16_t* digits[] = {u"0123456789abcdef", u"0123456789ABCDEF"};
        const char16_t* d = digits[conversion == u'X'];
        uint64_t v = static_cast<uint64_t>(arg.Number());
        String hex;
        do {
          hex.insert(hex.begin(), d[v & 15]);
          v >>= 4;
        } while (v);
        out += hex;
        break;
      }
      default:
        out += u'%';
        out += conversion;
        break;
    }
  }
  return out;
}

}  // namespace zel
