#include "library/Parser.h"

#include <utility>

namespace zel {

namespace {
bool InSet(const String& set, char16_t c) noexcept { return set.find(c) != String::npos; }
}  // namespace

TZELParser::TZELParser(StringView text, TZELParserSettings settings) : FText(text), FSettings(std::move(settings)) {}

bool TZELParser::IsDelimiter(char16_t c) const noexcept { return InSet(FSettings.Delimiters, c); }

bool TZELParser::NextToken(TToken& token) {
  while (!AtEnd()) {
    ReadToken(token);
    if (token.Kind == tkSpace && FSettings.SkipSpaces) continue;
    if (token.Kind == tkDelimiter && FSettings.SkipDelimiters) continue;
    return true;
  }
  token = TToken();
  return false;
}

// Reads one token at the cursor, which is not at the end.
void TZELParser::ReadToken(TToken& token) {
  const size_t start = FPosition;
  const char16_t c = FText[start];

  if (InSet(FSettings.Spaces, c)) {
    token.Kind = tkSpace;
    token.Text.assign(1, c);
    ++FPosition;
    return;
  }

  if (InSet(FSettings.Quotes, c)) {
    const size_t close = FSettings.QuotedTextAsSingleToken ? FText.find(c, start + 1) : String::npos;
    if (close != String::npos) {
      token.Kind = tkQuotedText;
      if (FSettings.StripQuotes) token.Text = FText.substr(start + 1, close - start - 1);
      else token.Text = FText.substr(start, close - start + 1);
      FPosition = close + 1;
    } else {
      token.Kind = tkQuote;
      token.Text.assign(1, c);
      ++FPosition;
    }
    return;
  }

  if (IsDelimiter(c)) {
    token.Kind = tkDelimiter;
    token.Text.assign(1, c);
    ++FPosition;
    return;
  }

  // Quote characters and spaces that are no delimiters belong to a word once it has begun.
  size_t end = start + 1;
  while (end < FText.size() && !IsDelimiter(FText[end])) ++end;
  token.Kind = tkWord;
  token.Text = FText.substr(start, end - start);
  FPosition = end;
}

}  // namespace zel
