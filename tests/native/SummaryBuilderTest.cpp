#include <gtest/gtest.h>

#include <map>

#include "core/SummaryBuilder.h"

using namespace zel;
using namespace kivo;

namespace {
TInstallerSummaryBuilder::TTextLookup Texts(std::map<String, String> texts) {
  return [texts = std::move(texts)](StringView section, StringView key) {
    const auto it = texts.find(String(section) + u"/" + String(key));
    return it == texts.end() ? String() : it->second;
  };
}
}  // namespace

TEST(SummaryBuilder, GroupsAreHeadersWithIndentedLinesSeparatedByAnEmptyLine) {
  TInstallerSummaryBuilder builder(Texts({{u"PageSetup/LB1", u"Destination:"}, {u"PageSetup/CB2", u"Normal"}}));
  builder.SetGroup(u"PageSetup", u"LB1");
  builder.AddLine(u"C:\\Program Files (x86)\\KIVO\\");
  builder.SetGroup(u"Unused header");  // replaced before any line: leaves no trace
  builder.SetGroup(u"Type:");
  builder.AddLine(u"PageSetup", u"CB2");
  builder.AddLine(u"Backup");
  builder.SetGroup(u"Header without lines");
  EXPECT_EQ(builder.ToString(),
            u"Destination:\r\n    C:\\Program Files (x86)\\KIVO\\\r\n\r\nType:\r\n    Normal\r\n    Backup\r\n");
}

TEST(SummaryBuilder, EmptyHeadersAreNeverWrittenButTheirLinesAre) {
  TInstallerSummaryBuilder builder(Texts({{u"S/line", u"text"}}));
  EXPECT_EQ(builder.ToString(), u"");
  builder.SetGroup(u"S", u"missing");  // an empty language text
  builder.AddLine(u"S", u"line");
  builder.SetGroup(u"Next");
  builder.AddLine(u"S", u"missing");  // an empty line is still a line
  EXPECT_EQ(builder.ToString(), u"    text\r\n\r\nNext\r\n    \r\n");
}

TEST(SummaryBuilder, WithoutALookupKeyedTextsAreEmpty) {
  TInstallerSummaryBuilder builder(nullptr);
  builder.SetGroup(u"A");
  builder.AddLine(u"one");
  builder.SetGroup(u"Section", u"Key");  // an empty header: the next line joins the group above
  builder.AddLine(u"two");
  EXPECT_EQ(builder.ToString(), u"A\r\n    one\r\n    two\r\n");
}

TEST(SummaryBuilder, LanguageTextsLoseTheirAccessKeysGivenLinesKeepTheirs) {
  TInstallerSummaryBuilder builder(Texts({{u"S/group", u"&Shortcuts:"},
                                          {u"S/box", u"Create a shortcut in the Start &menu"},
                                          {u"S/amp", u"Rock && Roll &"}}));
  builder.SetGroup(u"S", u"group");
  builder.AddLine(u"S", u"box");
  builder.AddLine(u"S", u"amp");
  builder.AddLine(u"C:\\Tom & Jerry\\");
  EXPECT_EQ(builder.ToString(),
            u"Shortcuts:\r\n    Create a shortcut in the Start menu\r\n    Rock & Roll &\r\n    C:\\Tom & Jerry\\\r\n");
}
