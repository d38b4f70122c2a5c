#pragma once
// TZELParser: a small configurable tokenizer. It cuts text into spaces, one-character
// delimiters, quoted runs and words; what counts as which is fixed when it is created.
#include <cstddef>

#include "library/Strings.h"

namespace zel {

enum TTokenKind {
  tkNone = 0,
  tkSpace = 1,
  tkDelimiter = 2,
  tkQuote = 3,  // a quote character without a closing partner
  tkQuotedText = 4,
  tkWord = 5,
};

struct TToken {
  TTokenKind Kind = tkNone;
  String Text;  // a quoted token's text excludes its quotes when StripQuotes is on

  // The token's first character, or NUL for an empty token.
  char16_t Char() const noexcept { return Text.empty() ? u'\0' : Text.front(); }
};

struct TZELParserSettings {
  String Delimiters;  // end a word; each one met is a one-character token
  String Spaces;      // each one is a space token; tested before the other sets
  String Quotes;      // open a quoted token, closed by the same character
  bool SkipSpaces = false;
  bool SkipDelimiters = false;
  bool QuotedTextAsSingleToken = true;
  bool StripQuotes = true;
};

class TZELParser {
public:
  // The parser reads from its own copy of `text`.
  TZELParser(StringView text, TZELParserSettings settings);
  virtual ~TZELParser() = default;
  TZELParser(const TZELParser&) = delete;
  TZELParser& operator=(const TZELParser&) = delete;

  // Reads the next token that the settings do not drop. False at the end of the input.
  bool NextToken(TToken& token);

  bool AtEnd() const noexcept { return FPosition >= FText.size(); }
  size_t Position() const noexcept { return FPosition; }
  // The input from the cursor on.
  StringView Rest() const noexcept { return StringView(FText).substr(FPosition); }
  const TZELParserSettings& Settings() const noexcept { return FSettings; }

private:
  void ReadToken(TToken& token);
  bool IsDelimiter(char16_t c) const noexcept;

  String FText;
  TZELParserSettings FSettings;
  size_t FPosition = 0;
};

}  // namespace zel
