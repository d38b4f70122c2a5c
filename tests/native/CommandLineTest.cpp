#include <gtest/gtest.h>

#include "library/CommandLine.h"
#include "library/Parser.h"

using namespace zel;

namespace {

struct LookupCase {
  const char16_t* params;
  const char16_t* name;
  bool found;
  const char16_t* value;
};

void CheckLookups(const std::vector<LookupCase>& cases) {
  for (const LookupCase& c : cases) {
    String value = u"stale";
    EXPECT_EQ(FindSwitch(c.params, c.name, value), c.found) << ToUtf8(c.params) << " / " << ToUtf8(c.name);
    EXPECT_EQ(value, c.value) << ToUtf8(c.params) << " / " << ToUtf8(c.name);
    EXPECT_EQ(HasSwitch(c.params, c.name), c.found) << ToUtf8(c.params) << " / " << ToUtf8(c.name);
  }
}

// "NAME:v1|v2" per command, commands separated by spaces; the nameless one as ":v".
String Describe(const TCommands& commands) {
  String out;
  for (size_t i = 0; i < commands.Count(); ++i) {
    if (i) out += u' ';
    out += commands[i].Name() + u":" + Join(commands[i].Lines(), u"|");
  }
  return out;
}

}  // namespace

TEST(CommandLine, SetupCommandLines) {
  CheckLookups({
      {u"/AUTO=\"C:\\Program Files\\KIVO\\\" /SILENT", u"AUTO", true, u"C:\\Program Files\\KIVO\\"},
      {u"/AUTO=\"C:\\Program Files\\KIVO\\\" /SILENT", u"SILENT", true, u""},
      {u"/AUTO=\"C:\\Program Files\\KIVO\\\" /SILENT", u"UPDATE", false, u""},
      {u"/SKIPUAC=1234 /AUTO=C:\\KIVO /UPDATE", u"SKIPUAC", true, u"1234"},
      {u"/SKIPUAC=1234 /AUTO=C:\\KIVO /UPDATE", u"AUTO", true, u"C:\\KIVO"},
      {u"/SKIPUAC=1234 /AUTO=C:\\KIVO /UPDATE", u"UPDATE", true, u""},
      {u"/PATH=\"C:\\x y\\\" /SKIPUAC=5", u"PATH", true, u"C:\\x y\\"},
      {u"/PATH=\"C:\\x y\\\" /SKIPUAC=5", u"SKIPUAC", true, u"5"},
      {u"/SKIPUAC=0 /PATH=\"C:\\Program Files\\KIVO\\\" /AUTO= /SILENT", u"AUTO", true, u""},
      {u"/SKIPUAC=0 /PATH=\"C:\\Program Files\\KIVO\\\" /AUTO= /SILENT", u"SILENT", true, u""},
      {u"-auto=C:\\KIVO -silent", u"AUTO", true, u"C:\\KIVO"},
      {u"-auto=C:\\KIVO -silent", u"SILENT", true, u""},
      {u"/silent /auto=c:\\kivo /Run", u"RUN", true, u""},
      {u"/auto C:\\KIVO", u"AUTO", true, u"C:\\KIVO"},
      {u"/AUTO \"C:\\x y\\\" /RUN", u"AUTO", true, u"C:\\x y\\"},
      {u"/AUTO=\\\\server\\share\\KIVO /SILENT", u"AUTO", true, u"\\\\server\\share\\KIVO"},
  });
}

TEST(CommandLine, SwitchLookupEdgeCases) {
  CheckLookups({
      {u"", u"AUTO", false, u""},
      {u"", u"", false, u""},
      {u"/AUTO", u"AUTO", true, u""},
      {u"/AUTO= /SILENT", u"AUTO", true, u""},
      {u"/AUTO=\"\" /SILENT", u"AUTO", true, u""},
      {u"/AUTO=\"\" /SILENT", u"SILENT", true, u""},
      {u"/auto=X", u"AUTO", true, u"X"},
      {u"/AUTO=X /AUTO=Y", u"AUTO", true, u"X"},  // the first command with the name
      {u"/AUTOX", u"AUTO", false, u""},           // names must have the same length
      {u"/AUT", u"AUTO", false, u""},
      {u"x -y", u"y", false, u""},  // no command yet, text waiting: "-y" is text
      {u"x -y", u"", true, u"x -y"},
      {u"/a x -y", u"a", true, u"x"},
      {u"/a x -y", u"y", true, u""},
      {u"/A=1 -B=2", u"B", true, u"2"},
      {u"/=x", u"", true, u"/=x"},  // no name: text
      {u"run /=x", u"", true, u"run /=x"},
      {u"/A x - y", u"A", true, u"x - y"},  // a lone prefix is text, its space kept
      {u"/ AUTO", u"AUTO", false, u""},
      {u"/ AUTO", u"", true, u"/ AUTO"},
      {u"--AUTO=1", u"", true, u"--AUTO=1"},
      {u"a/b", u"", true, u"a/b"},
  });
}

TEST(CommandLine, ValuesAreCutAtSemicolonsDrivesAndSpaces) {
  CheckLookups({
      {u"/NAME=a;b", u"NAME", true, u"a;b"},
      {u"/NAME=a;;b; /X", u"NAME", true, u"a;b"},  // empty values vanish
      {u"/NAME value", u"NAME", true, u"value"},
      {u"/NAME my song.mp3", u"NAME", true, u"my song.mp3"},  // inner spaces stay
      {u"/NAME  a   b  ", u"NAME", true, u"a   b"},
      {u"/NAME a.mp3 C:\\b.mp3", u"NAME", true, u"a.mp3;C:\\b.mp3"},
      {u"/NAME a \\\\srv\\share\\b", u"NAME", true, u"a;\\\\srv\\share\\b"},
      {u"/NAME a \\\\srv", u"NAME", true, u"a \\\\srv"},  // a server without a share is no drive
      {u"/NAME a 1:x", u"NAME", true, u"a 1:x"},          // nor is a digit before the colon
      {u"/AUTO=C:\\my-dir/sub", u"AUTO", true, u"C:\\my-dir/sub"},
      {u"/AUTO==x", u"AUTO", true, u"=x"},
      {u"/AUTO=x foo", u"AUTO", true, u"x"},  // the "=" value ended at the space
      {u"/AUTO=x foo", u"", true, u"foo"},
      {u"/AUTO= foo", u"AUTO", true, u""},
      {u"/AUTO C:\\my -dir", u"AUTO", true, u"C:\\my"},  // "-dir" is a switch once one exists
      {u"/AUTO C:\\my -dir", u"dir", true, u""},
  });
}

TEST(CommandLine, OddCharactersQuotesAndLineBreaks) {
  CheckLookups({
      // An unpaired quote is dropped after "=", ordinary text elsewhere.
      {u"/AUTO=\"C:\\x", u"AUTO", true, u"C:\\x"},
      {u"/AUTO=C:\\x\" /RUN", u"AUTO", true, u"C:\\x\""},  // inside a word it belongs to it
      {u"say \"hi", u"", true, u"say \"hi"},
      {u"\"", u"", true, u"\""},
      {u"/AUTO=\"", u"AUTO", true, u""},
      // CR and LF end a value that follows a space, but only a space starts a switch.
      {u"x\r\ny", u"", true, u"x;y"},
      {u"/AUTO C:\\a\r\nC:\\b", u"AUTO", true, u"C:\\a;C:\\b"},
      {u"/AUTO C:\\a\r\n/SILENT", u"SILENT", false, u""},
      {u"/AUTO=C:\\a\r\n/SILENT", u"AUTO", true, u"C:\\a\r\n/SILENT"},
      // A tab is neither a space nor a delimiter: it belongs to the word around it.
      {u"/AUTO=C:\\x\t/SILENT", u"AUTO", true, u"C:\\x\t/SILENT"},
      {u"/AUTO=C:\\x\t/SILENT", u"SILENT", false, u""},
      {u"/AUTO\tC:\\x", u"AUTO", false, u""},
      {u"\t/AUTO=x", u"AUTO", false, u""},
      {u"/AUTO=x\t", u"AUTO", true, u"x"},  // ends of a value are trimmed
      {u"/RUN \u0416\u0443\u043a.mp3", u"RUN", true, u"\u0416\u0443\u043a.mp3"},
      {u"/\u0416=1", u"\u0436", true, u"1"},
  });
}

TEST(CommandLine, ParseKeepsEveryCommandInOrder) {
  struct Case {
    const char16_t* text;
    const char16_t* commands;
  };
  const Case cases[] = {
      {u"", u""},
      {u"   ", u""},
      {u"/A", u"A:"},
      {u"x /A=1;2 /B y /A=3", u":x A:1|2 B:y A:3"},
      {u"/A=x foo /B", u"A:x :foo B:"},  // text after a value starts a nameless command
      {u"\"C:\\My Music\\a.mp3\" /RUN", u":C:\\My Music\\a.mp3 RUN:"},
      {u"/NAME x;y", u"NAME:x;y"},  // ";" separates only after "="
      {u"/NAME=x;y", u"NAME:x|y"},
      {u"/AUTO \"C:\\x", u"AUTO:\"|C:\\x"},  // the quote is text, the drive cuts it off
      {u"/A /A", u"A: A:"},
  };
  for (const Case& c : cases) {
    const std::unique_ptr<TCommands> commands = TZELCommandLineProcessor::Parse(c.text);
    ASSERT_TRUE(commands);
    EXPECT_EQ(Describe(*commands), c.commands) << ToUtf8(c.text);
  }
}

TEST(CommandLine, ParamsDropTheProgramPath) {
  struct Case {
    const char16_t* line;
    const char16_t* params;
  };
  const Case cases[] = {
      {u"", u""},
      {u"   ", u""},
      {u"Setup.exe", u""},
      {u"C:\\KIVO\\Setup.exe", u""},
      {u"\"C:\\Program Files\\KIVO\\Setup.exe\" /AUTO /SILENT", u"/AUTO /SILENT"},
      {u"  C:\\Setup.exe   /AUTO=x   ", u"/AUTO=x"},
      {u"'C:\\a b\\Setup.exe' /RUN", u"/RUN"},
      {u"\"C:\\a b\\Setup.exe\"/RUN", u"/RUN"},
      {u"\"\"  /RUN", u"/RUN"},
      {u"\tSetup.exe /A", u"/A"},
      {u"Setup.exe\r\n/A", u"/A"},
      {u"Setup.exe /PATH=\"C:\\x y\\\" a b", u"/PATH=\"C:\\x y\\\" a b"},
      {u"Setup.exe\t/A", u""},                                     // the tab belongs to the path
      {u"\"C:\\a b\\Setup.exe /RUN", u"C:\\a b\\Setup.exe /RUN"},  // unpaired quote: only it is dropped
  };
  for (const Case& c : cases) EXPECT_EQ(GetCommandLineParams(c.line), c.params) << ToUtf8(c.line);
}

TEST(CommandLine, ParamsOfThisProcessHoldItsArgumentsButNotItsPath) {
  const std::vector<std::string> argv = testing::internal::GetArgvs();
  ASSERT_FALSE(argv.empty());
  const String params = GetCommandLineParams();
  if (argv.size() == 1) {
    EXPECT_EQ(params, u"");
    return;
  }
  const String path = FromUtf8(argv[0]);
  EXPECT_FALSE(StartsWith(params, path)) << argv[0];
  for (size_t i = 1; i < argv.size(); ++i) {
    if (argv[i].find_first_of(" \t\"") != std::string::npos) continue;  // quoted by the shell
    EXPECT_NE(params.find(FromUtf8(argv[i])), String::npos) << argv[i];
  }
  EXPECT_EQ(params, Trim(params));
}

TEST(Parser, TokensFollowTheSettings) {
  struct Case {
    bool skipSpaces, skipDelimiters, singleQuoted, stripQuotes;
    const char16_t* text;
    const char16_t* tokens;  // kind digit + text, separated by "|"
  };
  const Case cases[] = {
      {false, false, true, true, u"ab \"c d\" e", u"5ab|1 |4c d|1 |5e"},
      {false, false, true, false, u"\"c d\"", u"4\"c d\""},
      {false, false, false, true, u"\"c d\"", u"3\"|5c|1 |5d\""},
      {false, false, true, true, u"\"\"x", u"4|5x"},
      {false, false, true, true, u"x\"y z", u"5x\"y|1 |5z"},  // quotes inside a word belong to it
      {false, false, true, true, u"'a\"", u"3'|5a\""},        // closed only by the same character
      {false, false, true, true, u"a=b;;", u"5a|2=|5b|2;|2;"},
      {true, false, true, true, u"  a = b ", u"5a|2=|5b"},
      {true, true, true, true, u" a=;b ", u"5a|5b"},
      {false, false, true, true, u"a\tb c", u"5a\tb|1 |5c"},  // a space that is no delimiter
      {false, false, true, true, u"\t", u"1\t"},
  };
  for (const Case& c : cases) {
    TZELParserSettings s;
    s.Delimiters = u" =;";
    s.Spaces = u" \t";
    s.Quotes = u"\"'";
    s.SkipSpaces = c.skipSpaces;
    s.SkipDelimiters = c.skipDelimiters;
    s.QuotedTextAsSingleToken = c.singleQuoted;
    s.StripQuotes = c.stripQuotes;
    TZELParser parser(c.text, s);
    String got;
    TToken token;
    while (parser.NextToken(token)) {
      if (!got.empty()) got += u'|';
      got += static_cast<char16_t>(u'0' + token.Kind);
      got += token.Text;
    }
    EXPECT_EQ(got, c.tokens) << ToUtf8(c.text);
    EXPECT_TRUE(parser.AtEnd());
    EXPECT_EQ(token.Kind, tkNone);
  }
}

// What the common launchers make of the arguments {"/AUTO=<folder>", "/SILENT"}: each
// must find the folder and the flag once unquoted; free text and switches that are
// already in the parser's form come back exactly as they were.
TEST(CommandLine, UnquoteSwitchesReadsWhatLaunchersWrite) {
  struct Case {
    const char16_t* params;
    const char16_t* unquoted;
    const char16_t* autoValue;  // null: no AUTO switch
    bool silent;
  };
  const Case cases[] = {
      // Python's list2cmdline, .NET's ArgumentList, Wine: the whole argument quoted.
      {u"\"/AUTO=C:\\Program Files\\KIVO\" /SILENT", u"/AUTO=\"C:\\Program Files\\KIVO\" /SILENT",
       u"C:\\Program Files\\KIVO", true},
      // ...and a trailing backslash doubled before the closing quote: it stays doubled.
      {u"\"/AUTO=C:\\Program Files\\KIVO\\\\\" /SILENT", u"/AUTO=\"C:\\Program Files\\KIVO\\\\\" /SILENT",
       u"C:\\Program Files\\KIVO\\\\", true},
      // PowerShell quotes the argument with a space, not the flag.
      {u"\"-AUTO=D:\\My Apps\" -SILENT", u"-AUTO=\"D:\\My Apps\" -SILENT", u"D:\\My Apps", true},
      // cmd: whatever the user typed, here every argument quoted.
      {u"\"/AUTO=C:\\KIVO\" \"/SILENT\"", u"/AUTO=C:\\KIVO /SILENT", u"C:\\KIVO", true},
      {u"\"/SILENT\" \"/AUTO=\"", u"/SILENT /AUTO=", u"", true},
      // Already in the parser's form.
      {u"/AUTO=\"C:\\a b\" /SILENT", u"/AUTO=\"C:\\a b\" /SILENT", u"C:\\a b", true},
      {u"/AUTO=C:\\KIVO", u"/AUTO=C:\\KIVO", u"C:\\KIVO", false},
      // Free text stays text.
      {u"\"C:\\My Music\\a b.mp3\" /AUTO=x", u"\"C:\\My Music\\a b.mp3\" /AUTO=x", u"x", false},
      {u"\"/ AUTO=x y\"", u"\"/ AUTO=x y\"", nullptr, false},  // a lone prefix is no switch
      {u"\"--AUTO=x\"", u"\"--AUTO=x\"", nullptr, false},
      {u"\"/NAME my song.mp3\"", u"\"/NAME my song.mp3\"", nullptr, false},  // space before any "="
      {u"x\"/AUTO=a b\"", u"x\"/AUTO=a b\"", nullptr, false},                // not after a space
      {u"/RUN=\"/AUTO=a b\"", u"/RUN=\"/AUTO=a b\"", nullptr, false},
      {u"\"/AUTO=a b", u"\"/AUTO=a b", nullptr, false},  // unpaired: left alone
      // A manifest's /AUTO="C:\Program Files\Acme" through those launchers: each inner
      // quote escaped, and the whole argument quoted when it has a space.
      {u"\"/AUTO=\\\"C:\\Program Files\\Acme Tools\\\"\" /SILENT", u"/AUTO=\"C:\\Program Files\\Acme Tools\" /SILENT",
       u"C:\\Program Files\\Acme Tools", true},
      {u"/AUTO=\\\"C:\\Program Files\\Acme Tools\\\" /SILENT", u"/AUTO=\"C:\\Program Files\\Acme Tools\" /SILENT",
       u"C:\\Program Files\\Acme Tools", true},
      {u"/SILENT /AUTO=\\\"C:\\Acme\\\"", u"/SILENT /AUTO=C:\\Acme", u"C:\\Acme", true},
      {u"\"/AUTO=\\\"C:\\Acme\\\"\"", u"/AUTO=C:\\Acme", u"C:\\Acme", false},  // .NET quotes any quote
      // A final backslash, doubled before the escaped quote, is one again.
      {u"\"-AUTO=\\\"C:\\Acme Tools\\\\\\\"\" -SILENT", u"-AUTO=\"C:\\Acme Tools\\\" -SILENT", u"C:\\Acme Tools\\",
       true},
      {u"\"/AUTO=\\\"\\\"\" /SILENT", u"/AUTO= /SILENT", u"", true},
      // No escaped closing quote, or text after it: left alone (the quote stays in the
      // value, which the destination then refuses).
      {u"/AUTO=\\\"C:\\Acme /SILENT", u"/AUTO=\\\"C:\\Acme /SILENT", u"\\\"C:\\Acme", true},
      {u"/AUTO=\\\"C:\\a b\" /SILENT", u"/AUTO=\\\"C:\\a b\" /SILENT", u"\\\"C:\\a", true},
      {u"/AUTO=\\\"C:\\a\\\"x /SILENT", u"/AUTO=\\\"C:\\a\\\"x /SILENT", u"\\\"C:\\a\\\"x", true},
      {u"", u"", nullptr, false},
  };
  for (const Case& c : cases) {
    const String unquoted = UnquoteSwitches(c.params);
    EXPECT_EQ(unquoted, c.unquoted) << ToUtf8(c.params);
    EXPECT_EQ(UnquoteSwitches(unquoted), unquoted) << ToUtf8(c.params);
    String value;
    EXPECT_EQ(FindSwitch(unquoted, u"AUTO", value), c.autoValue != nullptr) << ToUtf8(c.params);
    if (c.autoValue) {
      EXPECT_EQ(value, c.autoValue) << ToUtf8(c.params);
    }
    EXPECT_EQ(HasSwitch(unquoted, u"SILENT"), c.silent) << ToUtf8(c.params);
  }
}
