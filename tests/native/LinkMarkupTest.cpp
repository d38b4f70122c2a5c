#include <gtest/gtest.h>

#include "ui/toolkit/LinkMarkup.h"

using namespace zel;

TEST(LinkMarkup, FittedWidthGrowsToTheLimitOnly) {
  struct TCase {
    int Left, Width, Needed, MaxRight, Expected;
  } cases[] = {
      {60, 540, 300, 620, 540},  // fits: unchanged
      {44, 480, 480, 620, 480},  // exactly
      {44, 480, 481, 620, 481},  // one more
      {44, 480, 700, 620, 576},  // up to the limit
      {60, 540, 700, 580, 540},  // a limit left of its own edge never shrinks it
  };
  for (const TCase& c : cases)
    EXPECT_EQ(FittedWidth(c.Left, c.Width, c.Needed, c.MaxRight), c.Expected) << c.Left << " " << c.Needed;
}

TEST(LinkMarkup, FormatWithLinks) {
  struct TCase {
    const char16_t* Format;
    std::vector<String> Args;
    const char16_t* Expected;
  } cases[] = {
      {u"More: %s",
       {u"https://kivo.example/addons/"},
       u"More: <a href=\"https://kivo.example/addons/\">https://kivo.example/addons/</a>"},
      {u"Accept the %s and the %s.",
       {u"licence", u"<a href=\"http://x.example/p\">policy</a>"},
       u"Accept the licence and the <a href=\"http://x.example/p\">policy</a>."},
      {u"100 %% of %s", {u"it"}, u"100 % of it"},
      {u"%s and %s", {u"one"}, u"one and "},  // a missing argument is empty
      {u"no placeholder", {u"unused"}, u"no placeholder"},
      {u"odd %d stays, trailing %", {}, u"odd %d stays, trailing %"},
      {u"", {}, u""},
  };
  for (const TCase& c : cases) EXPECT_EQ(FormatWithLinks(c.Format, c.Args), c.Expected) << zel::ToUtf8(c.Format);
}

TEST(LinkMarkup, ParseLinkMarkup) {
  using TRuns = std::vector<TTextRun>;
  struct TCase {
    const char16_t* Markup;
    TRuns Runs;
  } cases[] = {
      {u"", {}},
      {u"plain text", {{u"plain text", false, u""}}},
      {u"Read the <a href=\"https://k.example/l\">licence</a>.",
       {{u"Read the ", false, u""}, {u"licence", true, u"https://k.example/l"}, {u".", false, u""}}},
      {u"<a href=\"u1\">one</a><a>two</a>", {{u"one", true, u"u1"}, {u"two", true, u""}}},
      // Not a link: unknown attributes, no end tag, a quote inside the address.
      {u"<a title=\"x\">t</a>", {{u"<a title=\"x\">t</a>", false, u""}}},
      {u"x <a href=\"u\">open", {{u"x <a href=\"u\">open", false, u""}}},
      {u"<a href=\"a\"b\">t</a>", {{u"<a href=\"a\"b\">t</a>", false, u""}}},
      {u"a < b <abbr>", {{u"a < b <abbr>", false, u""}}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseLinkMarkup(c.Markup), c.Runs) << zel::ToUtf8(c.Markup);
}
