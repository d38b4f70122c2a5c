#include "library/Xml.h"

#include <algorithm>

#include "library/Streams.h"
#include "platform/Platform.h"

namespace zel {

namespace {

constexpr char16_t ReplacementChar = 0xFFFD;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool SameBytesIgnoreCase(std::string_view a, std::string_view b) {
  auto same = [](char x, char y) { return AsciiLower(x) == AsciiLower(y); };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same);
}

// Leaf text loses the bytes of value 32 or less at both ends.
std::string_view TrimBytes(std::string_view bytes) {
  auto isSpace = [](char c) { return static_cast<uint8_t>(c) <= 32; };
  while (!bytes.empty() && isSpace(bytes.front())) bytes.remove_prefix(1);
  while (!bytes.empty() && isSpace(bytes.back())) bytes.remove_suffix(1);
  return bytes;
}

bool IsEntityChar(char16_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '#' || c == '$';
}

bool IsEscapable(char16_t c) { return c == '&' || c == '<' || c == '>' || c == '"' || c == '\''; }

int DigitValue(char16_t c, int base) {
  int v = 99;
  if (c >= '0' && c <= '9') v = c - '0';
  else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  return v < base ? v : -1;
}

// "#65", "#x41", "#$41": false when the digits are missing or not digits of the base.
// Codes beyond Unicode saturate to 0x110000 rather than overflow.
bool ParseCharCode(StringView ref, uint32_t& code) {
  int base = 10;
  ref.remove_prefix(1);  // '#'
  if (!ref.empty() && (ref[0] == 'x' || ref[0] == 'X' || ref[0] == '$')) {
    base = 16;
    ref.remove_prefix(1);
  }
  if (ref.empty()) return false;
  code = 0;
  for (char16_t c : ref) {
    const int digit = DigitValue(c, base);
    if (digit < 0) return false;
    code = std::min<uint32_t>(code * base + digit, 0x110000);
  }
  return true;
}

void AppendCodePoint(String& out, uint32_t code) {
  // NUL, lone surrogates and codes past Unicode would corrupt the text; say so visibly.
  if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
    out += ReplacementChar;
  } else if (code >= 0x10000) {
    code -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (code >> 10));
    out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
  } else {
    out += static_cast<char16_t>(code);
  }
}

void AppendEntity(String& out, StringView name) {
  static constexpr struct {
    std::u16string_view Name;
    char16_t Char;
  } Table[] = {{u"amp", '&'}, {u"gt", '>'}, {u"lt", '<'}, {u"quot", '"'}, {u"apos", '\''}};
  for (const auto& entry : Table) {
    if (name == entry.Name) {
      out += entry.Char;
      return;
    }
  }
  uint32_t code;
  if (name[0] == '#' && ParseCharCode(name, code)) {
    AppendCodePoint(out, code);
    return;
  }
  out += name;  // an unknown entity stands for its name
}

}  // namespace

String DecodeXMLEntities(StringView text) {
  if (text.find_first_of(u"&\\") == StringView::npos) return String(text);
  String out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c == '\\' && i + 1 < text.size() && IsEscapable(text[i + 1])) {
      out += text[i + 1];
      i += 2;
      continue;
    }
    if (c == '&') {
      size_t end = i + 1;
      while (end < text.size() && IsEntityChar(text[end])) ++end;
      if (end > i + 1 && end < text.size() && text[end] == ';') {
        AppendEntity(out, text.substr(i + 1, end - i - 1));
        i = end + 1;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

// --- Attributes

const TZELXMLAttribute* TZELXMLAttributes::Item(size_t index) const {
  return index < FItems.size() ? &FItems[index] : nullptr;
}

const TZELXMLAttribute* TZELXMLAttributes::Find(std::string_view name) const {
  for (const TZELXMLAttribute& item : FItems) {
    if (item.Name() == name) return &item;
  }
  return nullptr;
}

String TZELXMLAttributes::Value(std::string_view name) const {
  const TZELXMLAttribute* item = Find(name);
  return item ? item->Value() : String();
}

TZELXMLAttribute& TZELXMLAttributes::Add(std::string name, String value) {
  return FItems.emplace_back(std::move(name), std::move(value));
}

// --- Nodes

TZELXMLNode::~TZELXMLNode() { DeleteChildren(); }

// Deep trees (a million nested elements is a few megabytes of input) must not be
// freed recursively: walk down to a leaf, free it from its parent, step back up. Each
// node dies childless, so its own destructor does no work, and nothing is allocated.
void TZELXMLNode::DeleteChildren() noexcept {
  TZELXMLNode* node = this;
  for (;;) {
    if (!node->FChildren.empty()) {
      node = node->FChildren.back().get();
      continue;
    }
    if (node == this) break;
    TZELXMLNode* parent = node->FParent;
    parent->FChildren.pop_back();
    node = parent;
  }
}

void TZELXMLNode::Clear() {
  DeleteChildren();
  FAttributes.Clear();
  FText.clear();
}

TZELXMLNode* TZELXMLNode::Child(size_t index) const {
  return index < FChildren.size() ? FChildren[index].get() : nullptr;
}

TZELXMLNode* TZELXMLNode::FindChild(std::string_view name) const {
  for (const auto& child : FChildren) {
    if (child->FName == name) return child.get();
  }
  return nullptr;
}

TZELXMLNode* TZELXMLNode::FindChildIgnoreCase(std::string_view name) const {
  for (const auto& child : FChildren) {
    if (SameBytesIgnoreCase(child->FName, name)) return child.get();
  }
  return nullptr;
}

TZELXMLNode& TZELXMLNode::AddChild(std::string name) {
  return *FChildren.emplace_back(std::make_unique<TZELXMLNode>(this, std::move(name)));
}

// --- Document

void TZELXMLDocument::LoadFromStream(TStream& stream) {
  const int64_t remaining = stream.Size() - stream.Position();
  std::string bytes(remaining > 0 ? static_cast<size_t>(remaining) : 0, '\0');
  bytes.resize(bytes.empty() ? 0 : stream.Read(bytes.data(), bytes.size()));
  // A stream may deliver less or more than its size promised: read on to its end.
  char chunk[4096];
  while (const size_t got = stream.Read(chunk, sizeof chunk)) bytes.append(chunk, got);
  LoadFromBytes(bytes);
}

void TZELXMLDocument::LoadFromBytes(std::string_view bytes) {
  Clear();
  if (bytes.size() < 5) return;
  const std::string_view magic = bytes.substr(0, 4);
  if (magic == "SXML" || magic == "BXML") return;  // binary forms: not read by this program
  TZELTextXMLParser(bytes).Parse(*this);
}

// --- Text parser

TZELTextXMLParser::TToken TZELTextXMLParser::NextTagToken() {
  for (;;) {
    while (FPos < FData.size() && IsBlank(FData[FPos])) ++FPos;
    if (FPos >= FData.size()) return {TTokenKind::EndOfData, {}};
    const char c = FData[FPos];
    const char next = FPos + 1 < FData.size() ? FData[FPos + 1] : '\0';
    if (c == '<') return {TTokenKind::Markup, {}};
    if (c == '>') {
      ++FPos;
      return {TTokenKind::End, {}};
    }
    if ((c == '/' || c == '?') && next == '>') {
      FPos += 2;
      return {TTokenKind::EndEmpty, {}};
    }
    if (c == '/') {  // a stray slash inside a tag
      ++FPos;
      continue;
    }
    if (c == '=') {
      ++FPos;
      return {TTokenKind::Equals, {}};
    }
    if (c == '"' || c == '\'') {
      // A quoted run ends at its own quote, or just before a "<" or ">" so that a
      // missing quote cannot swallow the rest of the file.
      const size_t begin = ++FPos;
      while (FPos < FData.size() && FData[FPos] != c && FData[FPos] != '<' && FData[FPos] != '>') ++FPos;
      const std::string_view text = FData.substr(begin, FPos - begin);
      if (FPos < FData.size() && FData[FPos] == c) ++FPos;
      return {TTokenKind::Quoted, text};
    }
    const size_t begin = FPos;
    while (FPos < FData.size()) {
      const char w = FData[FPos];
      if (IsBlank(w) || w == '/' || w == '=' || w == '<' || w == '>') break;
      ++FPos;
    }
    return {TTokenKind::Word, FData.substr(begin, FPos - begin)};
  }
}

// Reads a tag after its "<" or "</": the first word is the name, then attribute names,
// each optionally followed by "=" and a quoted or single-word value.
TZELTextXMLParser::TTagEnd TZELTextXMLParser::ReadTag(TTag& tag) {
  bool named = false;
  bool canTakeValue = false;   // the last token was an attribute name
  bool awaitingValue = false;  // ... followed by "="
  for (;;) {
    const TToken token = NextTagToken();
    switch (token.Kind) {
      case TTokenKind::Word:
      case TTokenKind::Quoted:
        if (awaitingValue) {
          tag.Attributes.back().Value = token.Text;
          canTakeValue = awaitingValue = false;
        } else if (token.Kind == TTokenKind::Quoted) {
          canTakeValue = false;  // a stray string
        } else if (!named) {
          tag.Name = token.Text;
          named = true;
        } else {
          tag.Attributes.push_back({token.Text, {}});
          canTakeValue = true;
        }
        break;
      case TTokenKind::Equals: awaitingValue = canTakeValue; break;
      case TTokenKind::End: return TTagEnd::Open;
      case TTokenKind::EndEmpty: return TTagEnd::Empty;
      case TTokenKind::Markup:
      case TTokenKind::EndOfData: return TTagEnd::Stopped;
    }
  }
}

void TZELTextXMLParser::ApplyDeclaration(const TTag& tag) {
  const auto it = std::find_if(tag.Attributes.begin(), tag.Attributes.end(),
                               [](const TTagAttribute& a) { return a.Name == "encoding"; });
  // A processing instruction without an encoding (a style sheet, say) must not undo
  // the encoding the declaration before it chose.
  if (it == tag.Attributes.end()) return;
  const std::string_view value = it->Value;
  FUtf8 = false;
  FCodePage = 0;
  FByteTable.clear();
  if (SameBytesIgnoreCase(value, "utf-8")) {
    FUtf8 = true;
    return;
  }
  constexpr std::string_view Prefix = "windows-";
  if (value.size() <= Prefix.size() || value.size() > Prefix.size() + 5 ||
      !SameBytesIgnoreCase(value.substr(0, Prefix.size()), Prefix))
    return;
  unsigned codePage = 0;
  for (char c : value.substr(Prefix.size())) {
    if (c < '0' || c > '9') return;
    codePage = codePage * 10 + static_cast<unsigned>(c - '0');
  }
  if (codePage == 65001) {
    FUtf8 = true;
    return;
  }
  // A code page the system does not know falls back to the ANSI one, as no declaration would.
  String probe;
  if (codePage != 0 && codePage <= 0xFFFF && platform::DecodeCodePage("A", 1, codePage, probe)) FCodePage = codePage;
}

char16_t TZELTextXMLParser::DecodeByte(uint8_t byte) {
  if (FByteTable.empty()) {
    FByteTable.resize(256, ReplacementChar);
    String one;
    for (unsigned b = 0; b < 256; ++b) {
      const char c = static_cast<char>(b);
      if (platform::DecodeCodePage(&c, 1, FCodePage, one) && one.size() == 1) FByteTable[b] = one[0];
    }
  }
  return FByteTable[byte];
}

String TZELTextXMLParser::Decode(std::string_view bytes) {
  String text;
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; })) {
    // The declaration itself is read as ASCII, so every encoding it can name agrees here.
    text.assign(bytes.begin(), bytes.end());
  } else if (FUtf8) {
    text = FromUtf8(bytes);
  } else if (!platform::DecodeCodePage(bytes.data(), bytes.size(), FCodePage, text)) {
    // Bytes the code page does not define: keep the rest, mark those.
    text.clear();
    for (char c : bytes) text += DecodeByte(static_cast<uint8_t>(c));
  }
  return DecodeXMLEntities(text);
}

void TZELTextXMLParser::Parse(TZELXMLNode& root) {
  TZELXMLNode* current = &root;
  // Text counts only when it runs straight from the current element's start tag to
  // its close tag; a comment, character data, a declaration or a child in between
  // ends it.
  bool textOpen = false;
  bool preserveSpace = false;
  size_t textStart = 0;
  while (FPos < FData.size()) {
    const size_t lt = FData.find('<', FPos);
    if (lt == std::string_view::npos) return;
    FPos = lt;
    if (At("<!--")) {
      textOpen = false;
      const size_t end = FData.find("-->", FPos + 4);
      if (end == std::string_view::npos) return;
      FPos = end + 3;
    } else if (At("<![CDATA[")) {
      textOpen = false;
      const size_t begin = FPos + 9;
      const size_t end = FData.find("]]>", begin);
      const std::string_view content =
          end == std::string_view::npos ? FData.substr(begin) : FData.substr(begin, end - begin);
      // Text of an element with children is dropped, character data included.
      if (current->ChildCount() == 0) current->SetText(Decode(content));
      if (end == std::string_view::npos) return;
      FPos = end + 3;
    } else if (At("</")) {
      // Any close tag closes the current element, whatever its name.
      if (current == &root) return;
      if (textOpen && current->ChildCount() == 0) {
        const std::string_view text = FData.substr(textStart, lt - textStart);
        current->SetText(Decode(preserveSpace ? text : TrimBytes(text)));
      }
      textOpen = false;
      current = current->Parent();
      FPos += 2;
      TTag tag;
      if (ReadTag(tag) == TTagEnd::Stopped) return;
    } else {
      textOpen = false;
      ++FPos;
      const char kind = FPos < FData.size() ? FData[FPos] : '\0';
      TTag tag;
      const TTagEnd end = ReadTag(tag);
      if (kind == '?') {
        ApplyDeclaration(tag);
      } else if (kind != '!') {  // "<!DOCTYPE ...>" and the like are read and dropped
        current->SetText({});
        TZELXMLNode& element = current->AddChild(std::string(tag.Name));
        bool keepSpace = false;
        for (const TTagAttribute& attribute : tag.Attributes) {
          if (attribute.Name == "xml:space") {
            keepSpace = SameTextAscii(Decode(attribute.Value), u"preserve");
            continue;
          }
          element.Attributes().Add(std::string(attribute.Name), Decode(attribute.Value));
        }
        if (end == TTagEnd::Open) {
          current = &element;
          textOpen = true;
          preserveSpace = keepSpace;
          textStart = FPos;
        }
      }
      if (end == TTagEnd::Stopped) return;
    }
  }
}

}  // namespace zel
