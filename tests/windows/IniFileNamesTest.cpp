// INI names that the Windows locale calls equal although their upper-case mappings
// differ: lookups must follow the locale's comparison, not the mapping.
#include <gtest/gtest.h>

#include "library/IniFile.h"

using namespace zel;

TEST(IniFileWindows, NamesEqualUnderTheLocaleAreOneName) {
  struct Pair {
    const char16_t* a;
    const char16_t* b;
  };
  const Pair pairs[] = {
      {u"\u03c3", u"\u03c2"},         {u"\u03c2", u"\u03a3"}, {u"\u212a", u"K"}, {u"\u212a", u"k"},
      {u"\u00df", u"\u1e9e"},         {u"\u00c5", u"\u212b"}, {u"\u0131", u"I"}, {u"\u0130", u"i"},
      {u"Name\u03c2", u"NAME\u03a3"}, {u"\u212aey", u"key"},
  };
  int mappingDiffers = 0;
  for (const Pair& p : pairs) {
    const bool same = SameText(p.a, p.b);
    const std::string what = ToUtf8(p.a) + " / " + ToUtf8(p.b);
    if (same && UpperCase(p.a) != UpperCase(p.b)) ++mappingDiffers;
    TZELIniFile ini;
    ini.LoadFromText(String(u"[") + p.a + u"]\r\n" + p.a + u"=v\r\n[Other]\r\nx=1\r\n");
    EXPECT_EQ(ini.SectionExists(p.b), same) << what;
    EXPECT_EQ(ini.ReadString(p.a, p.b, u"-"), same ? u"v" : u"-") << what;
    EXPECT_EQ(ini.ReadString(p.b, p.a, u"-"), same ? u"v" : u"-") << what;
    // A repeated header under the other spelling merges into the first section.
    ini.LoadFromText(String(u"[") + p.a + u"]\r\nk=1\r\n[" + p.b + u"]\r\nk=2\r\nm=3\r\n");
    EXPECT_EQ(ini.SectionCount(), same ? 1u : 2u) << what;
    EXPECT_EQ(ini.ReadString(p.b, u"k", u""), same ? u"1" : u"2") << what;
  }
  // The pairs are chosen for this: some must be equal while their upper-case forms differ,
  // or the test would not test the lookup at all.
  EXPECT_GT(mappingDiffers, 0);
}
