// Fuzzes the command-line switch parser, the program-path split and the string list's
// line splitting with arbitrary text (UTF-8, invalid bytes decoded as U+FFFD).
#include <cstddef>
#include <cstdint>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const String text = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  CheckSwitches(text);
  CheckProgramPath(text);
  CheckLines(text);
  return 0;
}
