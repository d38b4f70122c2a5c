#include <gtest/gtest.h>

#include "library/StringList.h"

using namespace zel;

namespace {
TZELStringList ListOf(std::initializer_list<const char16_t*> lines) {
  TZELStringList list;
  for (const char16_t* line : lines) list.Add(line);
  return list;
}
}  // namespace

TEST(StringList, NameLookupIsCaseInsensitiveAndTheLastLineWins) {
  const TZELStringList list = ListOf({u"Name=first", u"ab=3", u"plain", u"NAME=second", u"=empty name", u"a=b=c",
                                      u"\u0416\u0443\u043a=beetle", u"Path= spaced "});
  struct Case {
    const char16_t* name;
    ptrdiff_t index;
    const char16_t* value;
  };
  const Case cases[] = {
      {u"name", 3, u"second"},  // later line overrides the earlier one
      {u"a", 5, u"b=c"},        // split at the first "="
      {u"ab", 1, u"3"},
      {u"abc", -1, u""},    // equal length required
      {u"plain", -1, u""},  // a line without "=" has no name
      {u"", 4, u"empty name"},
      {u"a=b", -1, u""},                      // a name holding "=" cannot be found
      {u"\u0436\u0423\u041a", 6, u"beetle"},  // case folding beyond ASCII
      {u"Path", 7, u" spaced "},              // values are not trimmed
      {u"missing", -1, u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(list.IndexOfName(c.name), c.index) << ToUtf8(c.name);
    EXPECT_EQ(list.Values(c.name), c.value) << ToUtf8(c.name);
  }
  EXPECT_EQ(list.Names(5), u"a");
  EXPECT_EQ(list.ValueFromIndex(5), u"b=c");
  EXPECT_EQ(list.Names(2), u"");
  EXPECT_EQ(list.ValueFromIndex(2), u"");
}

TEST(StringList, SetValueReplacesTheFoundLineOrAppends) {
  TZELStringList list = ListOf({u"a=1", u"x", u"A=2"});
  list.SetValue(u"a", u"3");  // the last "a" line is the one found, so it is replaced
  list.SetValue(u"b", u"4");
  list.SetValue(u"x", u"");  // "x" has no "=": a new line, with an empty value kept
  EXPECT_EQ(list.Lines(), (std::vector<String>{u"a=1", u"x", u"a=3", u"b=4", u"x="}));
  EXPECT_EQ(list.Values(u"A"), u"3");
  EXPECT_EQ(list.IndexOfName(u"x"), 4);
}

TEST(StringList, TextSplitsAtEveryKindOfLineBreak) {
  struct Case {
    const char16_t* text;
    std::vector<String> lines;
  };
  const Case cases[] = {
      {u"", {}},
      {u"a", {u"a"}},
      {u"a\r\nb", {u"a", u"b"}},
      {u"a\rb\nc", {u"a", u"b", u"c"}},
      {u"a\n\nb", {u"a", u"", u"b"}},
      {u"a\r\n", {u"a"}},  // a final line break ends the last line
      {u"a\r\n\r\n", {u"a", u""}},
      {u"a\n\r", {u"a", u""}},  // LF then CR are two breaks
      {u"\r\n", {u""}},
      {u"\r\r\n", {u"", u""}},
      {u" x \t", {u" x \t"}},  // lines are kept as they are
  };
  for (const Case& c : cases) {
    TZELStringList list = ListOf({u"old"});
    list.SetText(c.text);
    EXPECT_EQ(list.Lines(), c.lines) << ToUtf8(c.text);
  }
  const TZELStringList list = ListOf({u"one", u"", u"three"});
  EXPECT_EQ(list.Text(), u"one\r\n\r\nthree");
  TZELStringList copy;
  copy.SetText(list.Text());
  EXPECT_EQ(copy.Lines(), list.Lines());
  EXPECT_EQ(TZELStringList().Text(), u"");
}

TEST(StringList, EditingKeepsOrderAndRejectsIndexesOutsideTheList) {
  TZELStringList list;
  EXPECT_EQ(list.Add(u"b"), 0u);
  list.Insert(0, u"a");
  list.Insert(2, u"d");  // at Count: appends
  list.Insert(2, u"c");
  EXPECT_EQ(list.Lines(), (std::vector<String>{u"a", u"b", u"c", u"d"}));
  list.Delete(1);
  list[0] = String(u"A");
  EXPECT_EQ(list.Lines(), (std::vector<String>{u"A", u"c", u"d"}));
  EXPECT_EQ(list.Count(), 3u);

  EXPECT_THROW(list[3], EStringListError);
  EXPECT_THROW(list.Delete(3), EStringListError);
  EXPECT_THROW(list.Insert(5, u"x"), EStringListError);
  EXPECT_THROW(list.Names(3), EStringListError);
  EXPECT_THROW(TZELStringList()[0], EStringListError);
  try {
    list.Delete(7);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"List index out of bounds (7)");
  }
  EXPECT_EQ(list.Count(), 3u);
}

TEST(StringList, IndexOfFindsTheFirstEqualLineIgnoringCase) {
  const TZELStringList list = ListOf({u"Setup", u"x", u"SETUP", u"Setup2"});
  EXPECT_EQ(list.IndexOf(u"setup"), 0);
  EXPECT_EQ(list.IndexOf(u"SETUP2"), 3);
  EXPECT_EQ(list.IndexOf(u"Setu"), -1);
  EXPECT_EQ(list.IndexOf(u""), -1);
}
