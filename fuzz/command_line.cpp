// Fuzzes the command-line switch parser, the program-path split and the string list's
// line splitting with arbitrary text (UTF-8, invalid bytes decoded as U+FFFD); and
// compares FindSwitch(UnquoteSwitches(...)) with switches the fuzz bytes describe,
// rendered the way the common launchers quote them (values with quotes of their own too).
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>
#include <string_view>

#include "library/CommandLine.h"
#include "library/StringList.h"
#include "library/Strings.h"

using namespace zel;

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckSwitches(const String& text) {
  const std::unique_ptr<TCommands> commands = TZELCommandLineProcessor::Parse(text);
  Check(commands != nullptr);
  for (size_t i = 0; i < commands->Count(); ++i) {
    const TCommand& command = (*commands)[i];
    // A name is one word: it never holds a delimiter.
    Check(command.Name().find_first_of(u"-/=; \r\n") == String::npos);
    for (const String& value : command) Check(!value.empty() && Trim(value) == value);
    String value;
    Check(FindSwitch(text, command.Name(), value));
    const TCommand* first = commands->Find(command.Name());
    Check(first != nullptr && value == Join(first->Lines(), u";"));
  }
}

void CheckProgramPath(const String& text) {
  const String params = GetCommandLineParams(text);
  Check(Trim(params) == params);
  Check(params.size() < text.size() || params.empty());
  Check(Trim(text).find(params) != String::npos);
}

void CheckLines(const String& text) {
  TZELStringList list;
  list.SetText(text);
  String normal = ReplaceAll(ReplaceAll(text, u"\r\n", u"\n"), u"\r", u"\n");
  if (!normal.empty() && normal.back() == u'\n') normal.pop_back();
  for (const String& line : list) Check(line.find_first_of(u"\r\n") == String::npos);
  Check(Join(list.Lines(), u"\n") == normal);
  // Name lookup must agree with a plain scan from the end.
  for (size_t i = 0; i < list.Count() && i < 8; ++i) {
    const String name = list.Names(i);
    const ptrdiff_t found = list.IndexOfName(name);
    if (list[i].find(u'=') == String::npos) continue;
    Check(found >= static_cast<ptrdiff_t>(i));
    Check(SameText(list.Names(static_cast<size_t>(found)), name));
  }
}

// --- Switches rendered by launchers

struct TSwitch {
  String Name;
  String Value;
  bool HasValue = false;
};

// Values the parser reads back whole in every form: no quote, no ";" (it separates
// values), no "-", "/" or "=" (a drive after one starts a new value), no tab or break.
constexpr char16_t kValueChars[] = u"abcXYZ019 \\:._\u00e9\u0416 ";

// The MSVCRT quoting of one argument, as Python's list2cmdline, .NET and Wine write it:
// quoted when it holds a space or is empty, backslashes before a quote doubled.
String QuoteArgument(StringView arg) {
  if (!arg.empty() && arg.find_first_of(u" \t") == StringView::npos) return String(arg);
  String out = u"\"";
  size_t backslashes = 0;
  for (char16_t c : arg) {
    if (c == u'\\') {
      ++backslashes;
    } else {
      backslashes = 0;
    }
    out += c;
  }
  out.append(backslashes, u'\\');
  out += u'"';
  return out;
}

// The same with every quote escaped (a backslash before it, and the backslashes before it
// doubled): how those launchers pass an argument that holds quotes itself.
String QuoteArgumentWithQuotes(StringView arg) {
  String escaped;
  size_t backslashes = 0;
  for (char16_t c : arg) {
    if (c == u'"') {
      escaped.append(backslashes + 1, u'\\');
      backslashes = 0;
    } else {
      backslashes = c == u'\\' ? backslashes + 1 : 0;
    }
    escaped += c;
  }
  return QuoteArgument(escaped);
}

// Reads switches from the bytes and renders each in one of the launchers' forms; the
// expected value is what the destination code receives (doubled final backslashes
// included, as the launcher wrote them).
void CheckRenderedSwitches(const uint8_t* data, size_t size) {
  std::vector<TSwitch> switches;
  std::vector<String> expected;
  String params;
  size_t i = 0;
  auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  // An optional quoted file name first: free text that must stay text.
  String freeText;
  if (size && (data[0] & 0x80)) {
    ++i;
    const size_t length = 1 + next() % 12;
    for (size_t k = 0; k < length; ++k) freeText += kValueChars[next() % (std::size(kValueChars) - 1)];
    freeText = Trim(freeText);
    if (!freeText.empty()) params = u"\"" + freeText + u"\"";
  }
  while (i < size && switches.size() < 8) {
    const uint8_t form = next();
    TSwitch sw;
    const size_t nameLength = 1 + next() % 6;
    for (size_t k = 0; k < nameLength; ++k) sw.Name += static_cast<char16_t>(u'A' + next() % 26 + (k % 2 ? 32 : 0));
    sw.HasValue = form & 1;
    if (sw.HasValue) {
      const size_t length = next() % 16;
      for (size_t k = 0; k < length; ++k) sw.Value += kValueChars[next() % (std::size(kValueChars) - 1)];
      sw.Value = Trim(sw.Value);
    }
    const String prefix = (form & 2) ? u"-" : u"/";
    const String arg = prefix + sw.Name + (sw.HasValue ? u"=" + sw.Value : String());
    String rendered, got = sw.Value;
    switch ((form >> 2) % 4) {
      case 0:  // list2cmdline, .NET ArgumentList, Wine, PowerShell
        rendered = QuoteArgument(arg);
        if (rendered.front() == u'"') {
          size_t end = got.size();
          while (end && got[end - 1] == u'\\') --end;
          got.append(got.size() - end, u'\\');
        }
        break;
      case 1:  // cmd, every argument quoted by hand
        rendered = u"\"" + arg + u"\"";
        break;
      case 2:  // a manifest's /NAME="value" through those launchers: read back exactly
        rendered = QuoteArgumentWithQuotes(prefix + sw.Name + (sw.HasValue ? u"=\"" + sw.Value + u"\"" : String()));
        break;
      default:  // the parser's own form: the value quoted after "="
        rendered =
            sw.HasValue && sw.Value.find(u' ') != String::npos ? prefix + sw.Name + u"=\"" + sw.Value + u"\"" : arg;
        break;
    }
    if (!params.empty()) params += u' ';
    params += rendered;
    switches.push_back(sw);
    expected.push_back(got);
  }
  const String unquoted = UnquoteSwitches(params);
  Check(UnquoteSwitches(unquoted) == unquoted);
  for (size_t k = 0; k < switches.size(); ++k) {
    // The first switch of a name is the one found.
    size_t first = 0;
    while (!SameText(switches[first].Name, switches[k].Name)) ++first;
    String value;
    Check(FindSwitch(unquoted, switches[k].Name, value));
    Check(value == expected[first]);
  }
  String text;
  Check(FindSwitch(unquoted, u"", text) == !freeText.empty());
  Check(text == freeText);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const String text = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  CheckSwitches(text);
  CheckProgramPath(text);
  CheckLines(text);
  Check(UnquoteSwitches(UnquoteSwitches(text)) == UnquoteSwitches(text));
  CheckRenderedSwitches(data, size);
  return 0;
}
