#include <gtest/gtest.h>

#include <string>

#include "package/InstallerScript.h"
#include "library/Streams.h"

using namespace zel;
using namespace kivo;

namespace {

void Load(TInstallerScript& script, std::string_view xml) {
  TMemoryStream stream(std::vector<uint8_t>(xml.begin(), xml.end()));
  script.LoadFromStream(stream);
}

struct TEntry {
  String Name, Text, LangFamily;
  bool operator==(const TEntry&) const = default;
};
std::vector<TEntry> Entries(const TInstallerScriptGroup& group) {
  std::vector<TEntry> out;
  for (size_t i = 0; i < group.Count(); ++i)
    out.push_back({group.Items(i).Name, group.Items(i).Text, group.Items(i).LangFamily});
  return out;
}

}  // namespace

TEST(InstallerScript, ReadsEveryGroupAndTheSettings) {
  TInstallerScript script;
  Load(script, R"(<?xml version="1.0" encoding="utf-8"?>
<installer>
  <setup><license><File name="License_EN.rtf" lang-family="EN"/><File name="License_DE.rtf" lang-family="DE"/></license></setup>
  <product>
    <Components><File name="$DEST\KIVO.exe"/><File name="$DEST\Readme.txt" lang-family="RU">Readme_RU.txt</File></Components>
    <Settings><Setting name="ProductName" value="KIVO"/><X name="ProductVersionId" value="5100"/></Settings>
    <Actions><File name="$DEST\KIVO.exe">RunProduct</File></Actions>
    <Shortcuts><File name="$DESKTOP\KIVO.lnk">$DEST\KIVO.exe</File></Shortcuts>
    <Components><File name="$DEST\Second.dll"/></Components>
  </product>
</installer>)");
  EXPECT_EQ(Entries(script.License),
            (std::vector<TEntry>{{u"License_EN.rtf", u"", u"EN"}, {u"License_DE.rtf", u"", u"DE"}}));
  // Repeated group elements add to the same group, in document order.
  EXPECT_EQ(Entries(script.Components), (std::vector<TEntry>{{u"$DEST\\KIVO.exe", u"", u""},
                                                             {u"$DEST\\Readme.txt", u"Readme_RU.txt", u"RU"},
                                                             {u"$DEST\\Second.dll", u"", u""}}));
  EXPECT_EQ(Entries(script.Actions), (std::vector<TEntry>{{u"$DEST\\KIVO.exe", u"RunProduct", u""}}));
  EXPECT_EQ(Entries(script.Shortcuts), (std::vector<TEntry>{{u"$DESKTOP\\KIVO.lnk", u"$DEST\\KIVO.exe", u""}}));
  // Settings children may have any element name.
  EXPECT_EQ(script.Settings.Lines(), (std::vector<String>{u"ProductName=KIVO", u"ProductVersionId=5100"}));
  EXPECT_EQ(script.GetValue(u"productname"), u"KIVO");
}

TEST(InstallerScript, SchemaEdgeCases) {
  TInstallerScript script;
  Load(script, R"(<root>
  <setup><license>License.rtf</license></setup>
  <product>
    <Components><File>Nameless.txt</File><Other name="x">ignored text</Other></Components>
    <Actions><Item name="a"/>own text is ignored when there are children</Actions>
    <components><File name="wrong case"/></components>
    <SHORTCUTS><File name="wrong case"/></SHORTCUTS>
    <Shortcuts></Shortcuts>
  </product>
</root>)");
  // A group written as text only names one entry.
  EXPECT_EQ(Entries(script.License), (std::vector<TEntry>{{u"License.rtf", u"", u""}}));
  // A File without "name": empty Name, and GetTextOrName falls back to the Text.
  ASSERT_EQ(Entries(script.Components), (std::vector<TEntry>{{u"", u"Nameless.txt", u""}}));
  EXPECT_EQ(script.Components.Items(0).GetTextOrName(), u"Nameless.txt");
  // Children but none named "File": no entries, and the group's text is not used.
  EXPECT_EQ(script.Actions.Count(), 0u);
  // Element names differing only in case are ignored; an empty group adds nothing.
  EXPECT_EQ(script.Shortcuts.Count(), 0u);
  EXPECT_THROW(script.Shortcuts.Items(0), EStringListError);
}

TEST(InstallerScript, DocumentsWithoutTheExpectedPartsLoadEmpty) {
  const char* inputs[] = {
      "",                         // nothing at all
      "<?xml version=\"1.0\"?>",  // no element
      "<installer/>",             // no setup, no product
      "<installer><setup/><Product/></installer>",
      "<installer><product><Settings>",  // cut off
      "\x01\x02garbage<<<>>>&&&",
  };
  for (const char* input : inputs) {
    TInstallerScript script;
    Load(script, input);
    EXPECT_EQ(script.License.Count() + script.Components.Count() + script.Actions.Count() + script.Shortcuts.Count() +
                  script.Settings.Count(),
              0u)
        << input;
  }
  // Only the first top-level element is the script.
  TInstallerScript script;
  Load(script, "<a><product><Actions>first</Actions></product></a><b><product><Actions>second</Actions></product></b>");
  EXPECT_EQ(Entries(script.Actions), (std::vector<TEntry>{{u"first", u"", u""}}));
}

TEST(InstallerScript, MalformedXmlKeepsWhatCameBeforeTheDamage) {
  TInstallerScript script;
  Load(script,
       "<installer><product><Settings><S name=\"ProductName\" value=\"KIVO\"/></Settings>"
       "<Components><File name=\"a\"/><File name=\"b");
  EXPECT_EQ(script.GetValue(u"ProductName"), u"KIVO");
  ASSERT_GE(script.Components.Count(), 1u);
  EXPECT_EQ(script.Components.Items(0).Name, u"a");
}

TEST(InstallerScript, GetValueTakesTheLastMatchingLine) {
  TInstallerScript script;
  Load(script, R"(<i><product>
    <Settings><S name="ProductName" value="First"/><S name="a=b" value="c"/><S name="Empty" value=""/></Settings>
    <Settings><S name="PRODUCTNAME" value="Second"/><S name="Publisher"/></Settings>
  </product></i>)");
  struct Case {
    const char16_t* name;
    const char16_t* value;
  };
  const Case cases[] = {
      {u"ProductName", u"Second"},  // two Settings elements: the later one wins
      {u"productname", u"Second"},
      {u"a=b", u""},   // a name containing "=" cannot be found
      {u"a", u"b=c"},  // ... because its line's name ends at the first "="
      {u"Empty", u""},
      {u"Publisher", u""},  // no "value" attribute
      {u"Product", u""},    // a prefix is not the name
      {u"Missing", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(script.GetValue(c.name), c.value) << ToUtf8(c.name);
  EXPECT_EQ(script.Settings.Count(), 5u);  // nothing is replaced, lines accumulate
}

TEST(InstallerScript, FindTakesTheFirstEntryOfTheFamilyOrForEveryFamily) {
  TInstallerScriptGroup group;
  const char16_t* families[] = {u"EN", u"", u"RU"};
  for (const char16_t* family : families) group.Add().LangFamily = family;
  group.Items(0).Name = u"en";
  group.Items(1).Name = u"any";
  group.Items(2).Name = u"ru";
  struct Case {
    const char16_t* family;
    const char16_t* found;
  };
  const Case cases[] = {{u"RU", u"any"}, {u"EN", u"en"}, {u"en", u"en"}, {u"DE", u"any"}, {u"", u"any"}};
  for (const Case& c : cases) {
    const TInstallerScriptFile* entry = nullptr;
    ASSERT_TRUE(group.Find(c.family, entry)) << ToUtf8(c.family);
    EXPECT_EQ(entry->Name, c.found) << ToUtf8(c.family);
  }
  TInstallerScriptGroup specific;
  specific.Add().LangFamily = u"DE";
  const TInstallerScriptFile* entry = &specific.Items(0);
  EXPECT_FALSE(specific.Find(u"RU", entry));
  EXPECT_EQ(entry, nullptr);
  EXPECT_FALSE(MatchesLangFamily(specific.Items(0), u"DEU"));  // equal length required
}

TEST(InstallerScript, GetTextOrNameUsesTheFileNamePartOfName) {
  struct Case {
    const char16_t* name;
    const char16_t* text;
    const char16_t* result;
  };
  const Case cases[] = {
      {u"$DEST\\Plugins\\Eq.dll", u"", u"Eq.dll"},
      {u"C:Readme.txt", u"", u"Readme.txt"},
      {u"a/b/c.txt", u"", u"c.txt"},
      {u"$DEST\\Folder\\", u"", u""},
      {u"$DEST\\KIVO.exe", u"RunProduct", u"RunProduct"},
  };
  for (const Case& c : cases) {
    TInstallerScriptFile entry;
    entry.Name = c.name;
    entry.Text = c.text;
    EXPECT_EQ(entry.GetTextOrName(), c.result) << ToUtf8(c.name);
  }
}
