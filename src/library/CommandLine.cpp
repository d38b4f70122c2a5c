#include "library/CommandLine.h"

#include <utility>

#include "platform/Platform.h"

namespace zel {

namespace {

// "C:..." or "\\server\share...": such a word starts a new value, so that several paths
// given one after another stay apart ("a.mp3 C:\b.mp3" is two values).
bool BeginsWithDrive(StringView word) {
  if (word.size() >= 2 && word[1] == u':') {
    const char16_t c = word[0];
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
  }
  if (word.size() < 5 || word[0] != u'\\' || word[1] != u'\\') return false;
  const size_t shareSep = word.find(u'\\', 2);
  // Server and share names must both be present.
  return shareSep != StringView::npos && shareSep > 2 && shareSep + 1 < word.size() && word[shareSep + 1] != u'\\';
}

TZELParserSettings SwitchSettings() {
  TZELParserSettings s;
  s.Delimiters = u"-/=; \r\n";
  s.Spaces = u" ";
  s.Quotes = u"\"";
  s.SkipSpaces = false;
  s.SkipDelimiters = false;
  s.QuotedTextAsSingleToken = true;
  s.StripQuotes = true;
  return s;
}

TZELParserSettings ProgramPathSettings() {
  TZELParserSettings s;
  s.Delimiters = u" \r\n";
  s.Spaces = String(u" \r\n\t") + u'\0';
  s.Quotes = u"\"'";
  s.SkipSpaces = true;
  s.SkipDelimiters = false;
  s.QuotedTextAsSingleToken = true;
  s.StripQuotes = true;
  return s;
}

}  // namespace

TCommand& TCommands::Add(std::unique_ptr<TCommand> command) {
  FItems.push_back(std::move(command));
  return *FItems.back();
}

const TCommand* TCommands::Find(StringView name) const {
  for (const auto& item : FItems)
    if (item->Name().size() == name.size() && SameText(item->Name(), name)) return item.get();
  return nullptr;
}

TZELCommandLineParser::TZELCommandLineParser(StringView text) : TZELParser(text, SwitchSettings()) {}

std::unique_ptr<TCommands> TZELCommandLineParser::Parse() {
  FResult = std::make_unique<TCommands>();
  FCurrent = nullptr;
  FBuffer.clear();
  FPrevious = TToken();
  FState = stSpace;

  TToken token;
  while (NextToken(token)) {
    switch (FState) {
      case stValue: HandleValue(token); break;
      case stSpace: HandleSpace(token); break;
      case stPrefix: HandlePrefix(token); break;
      case stName: HandleName(token); break;
      case stAssigned: HandleAssigned(token); break;
    }
    FPrevious = std::move(token);
  }
  Flush();
  FCurrent = nullptr;
  return std::move(FResult);
}

void TZELCommandLineParser::AddValue(StringView text) {
  const String value = Trim(text);
  if (value.empty()) return;
  if (!FCurrent) FCurrent = &FResult->Add(std::make_unique<TCommand>());
  FCurrent->Add(value);
}

void TZELCommandLineParser::Flush() {
  AddValue(FBuffer);
  FBuffer.clear();
}

// State 0: collecting a value.
void TZELCommandLineParser::HandleValue(const TToken& token) {
  switch (token.Kind) {
    case tkSpace: FState = stSpace; break;
    case tkDelimiter:
    case tkQuote:
      if (token.Char() == u'\r' || token.Char() == u'\n') Flush();
      else FBuffer += token.Text;
      break;
    case tkQuotedText:
      Flush();
      AddValue(token.Text);
      break;
    case tkWord:
      if (BeginsWithDrive(token.Text)) Flush();
      FBuffer += token.Text;
      break;
    case tkNone: break;
  }
}

// State 1: after a space (or at the start), where a switch prefix may follow.
void TZELCommandLineParser::HandleSpace(const TToken& token) {
  if (token.Kind == tkDelimiter) {
    if (token.Char() == u'/') {
      FState = stPrefix;
      return;
    }
    // "x -y" keeps "-y" as text: a minus starts a switch only once one exists, or
    // when no text is waiting.
    if (token.Char() == u'-' && (!FResult->IsEmpty() || FBuffer.empty())) {
      FState = stPrefix;
      return;
    }
  }
  FState = stValue;
  FBuffer += FPrevious.Text;
  HandleValue(token);
}

// State 2: after "/" or "-"; a word names a new switch.
void TZELCommandLineParser::HandlePrefix(const TToken& token) {
  if (token.Kind == tkWord) {
    Flush();
    FCurrent = &FResult->Add(std::make_unique<TCommand>(token.Text));
    FState = stName;
    return;
  }
  // No name: the prefix and the space that stood before it were text after all.
  FState = stValue;
  FBuffer += u' ';
  FBuffer += FPrevious.Text;
  HandleValue(token);
}

// State 3: after a switch name.
void TZELCommandLineParser::HandleName(const TToken& token) {
  if (token.Kind == tkDelimiter && token.Char() == u'=') {
    FState = stAssigned;
    return;
  }
  FState = stValue;
  HandleValue(token);
}

// State 4: after "="; the value runs to the next space, ";" separating values.
void TZELCommandLineParser::HandleAssigned(const TToken& token) {
  switch (token.Kind) {
    case tkSpace:
      Flush();
      FState = stSpace;
      FCurrent = nullptr;
      break;
    case tkDelimiter:
      if (token.Char() == u';') Flush();
      else FBuffer += token.Text;
      break;
    case tkQuotedText:
    case tkWord: HandleValue(token); break;
    case tkQuote:  // an unpaired quote after "=" is dropped
    case tkNone: break;
  }
}

std::unique_ptr<TCommands> TZELCommandLineProcessor::Parse(StringView text) {
  TZELCommandLineParser parser(text);
  return parser.Parse();
}

namespace {

// The switch inside a quoted token's text, or nothing when the text holds none.
bool UnquotedSwitch(StringView inner, String& out) {
  static constexpr StringView kDelimiters = u"-/=; \r\n";
  if (inner.size() < 2 || (inner[0] != u'/' && inner[0] != u'-')) return false;
  if (kDelimiters.find(inner[1]) != StringView::npos) return false;  // a lone prefix is text
  const size_t space = inner.find(u' ');
  const size_t equals = inner.find(u'=');
  if (space == StringView::npos) {
    out = String(inner);
    return true;
  }
  if (equals == StringView::npos || equals > space) return false;
  out = String(inner.substr(0, equals + 1));
  out += u'"';
  out += inner.substr(equals + 1);
  out += u'"';
  return true;
}

// A value that holds quotes, such as the /DEST="C:\Program Files\Acme" of a deployment
// manifest, comes from launchers that quote by the C runtime's rules with each inner
// quote escaped: /DEST=\"C:\Acme\", and with a space in it the whole argument quoted,
// "/DEST=\"C:\Program Files\Acme\"". Backslashes before an escaped quote are doubled
// (C:\Acme\ ends in \\\"). Reads such a switch at `start`: true with the index after
// it (a space or the end) and the switch in the parser's form, /DEST="C:\Program Files\Acme".
bool EscapedQuoteSwitch(StringView text, size_t start, size_t& end, String& out) {
  static constexpr StringView kNotInName = u"-/=; \r\n\"\\";
  size_t i = start;
  const bool outer = i < text.size() && text[i] == u'"';
  if (outer) ++i;
  if (i >= text.size() || (text[i] != u'/' && text[i] != u'-')) return false;
  const size_t nameStart = i++;
  while (i < text.size() && kNotInName.find(text[i]) == StringView::npos) ++i;
  if (i == nameStart + 1 || text.substr(i, 3) != StringView(u"=\\\"")) return false;
  const StringView name = text.substr(nameStart, i - nameStart);
  const size_t valueStart = i + 3;
  // A file or folder name holds no quote: the first one closes the value, and it must be
  // escaped (an odd run of backslashes before it).
  const size_t quote = text.find(u'"', valueStart);
  if (quote == StringView::npos) return false;
  size_t backslashes = 0;
  while (quote - backslashes > valueStart && text[quote - backslashes - 1] == u'\\') ++backslashes;
  if (backslashes % 2 == 0) return false;
  size_t after = quote + 1;
  if (outer) {
    if (after >= text.size() || text[after] != u'"') return false;
    ++after;
  }
  if (after < text.size() && text[after] != u' ') return false;
  String value(text.substr(valueStart, quote - backslashes - valueStart));
  value.append(backslashes / 2, u'\\');
  out = String(name) + u'=';
  out += value.find(u' ') == String::npos ? value : u'"' + value + u'"';
  end = after;
  return true;
}

}  // namespace

String UnquoteSwitches(StringView params) {
  // Cut with the parser's own tokenizer, quotes kept, so that a quote counts as opening
  // exactly where the parser would see one: the tokens' texts put together are params.
  TZELParserSettings settings = SwitchSettings();
  settings.StripQuotes = false;
  String out;
  out.reserve(params.size() + 2);
  TTokenKind previous = tkSpace;  // the start counts as after a space
  size_t offset = 0;
  bool more = true;
  while (more) {
    more = false;
    TZELParser parser(params.substr(offset), settings);
    TToken token;
    for (;;) {
      size_t end = 0;
      String rewritten;
      // The escaped form spans spaces: it is read from the text, and the tokens resume
      // after it.
      if (previous == tkSpace && EscapedQuoteSwitch(params, offset + parser.Position(), end, rewritten)) {
        out += rewritten;
        offset = end;
        previous = tkWord;
        more = true;
        break;
      }
      if (!parser.NextToken(token)) break;
      if (token.Kind == tkQuotedText && previous == tkSpace &&
          UnquotedSwitch(StringView(token.Text).substr(1, token.Text.size() - 2), rewritten))
        out += rewritten;
      else out += token.Text;
      previous = token.Kind;
    }
  }
  return out;
}

String GetCommandLineParams(StringView commandLine) {
  TZELParser parser(Trim(commandLine), ProgramPathSettings());
  TToken programPath;
  if (!parser.NextToken(programPath)) return {};
  return Trim(parser.Rest());
}

String GetCommandLineParams() { return GetCommandLineParams(platform::ProcessCommandLine()); }

bool FindSwitch(StringView params, StringView name, String& value) {
  value.clear();
  const std::unique_ptr<TCommands> commands = TZELCommandLineProcessor::Parse(params);
  const TCommand* command = commands->Find(name);
  if (!command) return false;
  value = Join(command->Lines(), u";");
  return true;
}

bool HasSwitch(StringView params, StringView name) {
  String value;
  return FindSwitch(params, name, value);
}

}  // namespace zel
