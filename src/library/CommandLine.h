#pragma once
// Command-line switches of the form /NAME=value: taking the parameters from the
// process command line, cutting them into named switches with lists of values, and
// looking a switch up. Parsing never fails; every input gives a (possibly empty) list.
#include <cstddef>
#include <memory>
#include <vector>

#include "library/Parser.h"
#include "library/StringList.h"
#include "library/Strings.h"

namespace zel {

// One switch: its values, in order, and its name. Free text before the first switch
// (and after a switch whose "=" value has ended) is held by a command with no name.
class TCommand : public TZELStringList {
public:
  explicit TCommand(StringView name = {}) : FName(name) {}
  const String& Name() const noexcept { return FName; }

private:
  String FName;
};

// The switches in the order in which they appear; several may share a name.
class TCommands {
public:
  size_t Count() const noexcept { return FItems.size(); }
  bool IsEmpty() const noexcept { return FItems.empty(); }
  const TCommand& operator[](size_t index) const { return *FItems.at(index); }
  TCommand& operator[](size_t index) { return *FItems.at(index); }
  TCommand& Add(std::unique_ptr<TCommand> command);
  // The first command named `name` (case-insensitive, equal length), or null.
  const TCommand* Find(StringView name) const;

private:
  std::vector<std::unique_ptr<TCommand>> FItems;
};

// The state machine that turns the parameters text into commands. A switch starts with
// "/" or "-" after a space (or at the start); see Parse() for the states.
class TZELCommandLineParser : public TZELParser {
public:
  explicit TZELCommandLineParser(StringView text);
  std::unique_ptr<TCommands> Parse();

private:
  enum TState { stValue = 0, stSpace = 1, stPrefix = 2, stName = 3, stAssigned = 4 };

  void HandleValue(const TToken& token);
  void HandleSpace(const TToken& token);
  void HandlePrefix(const TToken& token);
  void HandleName(const TToken& token);
  void HandleAssigned(const TToken& token);
  void AddValue(StringView text);
  void Flush();

  std::unique_ptr<TCommands> FResult;
  TCommand* FCurrent = nullptr;
  String FBuffer;
  TToken FPrevious;
  TState FState = stSpace;
};

class TZELCommandLineProcessor {
public:
  // A new list, owned by the caller.
  static std::unique_ptr<TCommands> Parse(StringView text);
};

// The process command line without the program path (quoted or not), trimmed.
String GetCommandLineParams();
// The same for a given command line, as the platform would hold it.
String GetCommandLineParams(StringView commandLine);

// Launchers that quote every argument with a space in it (.NET's ArgumentList,
// PowerShell, Python's subprocess, Wine) turn /AUTO=C:\a b into "/AUTO=C:\a b", which
// the parser reads as free text. This rewrites each double-quoted token that stands at
// the start or after a space and holds a switch (a "/" or "-" and a name) into the
// switch itself: "/NAME=value" becomes /NAME="value" (/NAME=value when the value has no
// space) and "/NAME" becomes /NAME. Everything else, quoted file names included, is kept
// exactly; so is a quoted token with a space but no "=" before it, which is no switch.
String UnquoteSwitches(StringView params);

// Parses `params` and looks for the first switch named `name` (case-insensitive, equal
// length). `value` receives its values joined with ";", or is emptied when none matches.
bool FindSwitch(StringView params, StringView name, String& value);
bool HasSwitch(StringView params, StringView name);

}  // namespace zel
