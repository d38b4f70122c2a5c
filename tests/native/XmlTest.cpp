#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "TestSupport.h"
#include "library/Streams.h"
#include "library/Xml.h"
#include "platform/Platform.h"

using namespace zel;

namespace {

// A compact picture of a tree: name[attr=value ...]"text"(children), siblings
// separated by commas; text and values as UTF-8.
std::string Dump(const TZELXMLNode& node) {
  std::string out = node.Name();
  if (node.Attributes().Count() != 0) {
    out += '[';
    for (const TZELXMLAttribute& a : node.Attributes()) {
      if (out.back() != '[') out += ' ';
      out += a.Name() + "=" + ToUtf8(a.Value());
    }
    out += ']';
  }
  if (!node.Text().empty()) out += '"' + ToUtf8(node.Text()) + '"';
  if (node.ChildCount() != 0) {
    out += '(';
    for (const auto& child : node.Children()) out += (out.back() == '(' ? "" : ",") + Dump(*child);
    out += ')';
  }
  return out;
}

std::string Parse(std::string_view xml) {
  TZELXMLDocument doc;
  doc.LoadFromBytes(xml);
  std::string out;
  for (const auto& child : doc.Children()) out += (out.empty() ? "" : ",") + Dump(*child);
  return out;
}

String FirstValue(std::string_view xml, std::string_view attribute = "v") {
  TZELXMLDocument doc;
  doc.LoadFromBytes(xml);
  return doc.ChildCount() ? doc.Child(0)->AttributeValue(attribute) : u"<no element>";
}

String Ansi(std::string_view bytes) {
  String text;
  EXPECT_TRUE(platform::DecodeCodePage(bytes.data(), bytes.size(), 0, text));
  return text;
}

struct Case {
  const char* xml;
  const char* tree;
};

void ExpectTrees(std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(Parse(c.xml), c.tree) << "input: " << c.xml;
}

}  // namespace

TEST(Xml, TagsBuildTheTreeWithoutCheckingNames) {
  ExpectTrees({
      {"<a/> ", "a"},
      {"<r><a/>x</r>", "r(a)"},                // end-empty: no children, no text
      {"<r><a>t</b><c/></r>", "r(a\"t\",c)"},  // a close tag of any name closes
      {"<r><a><b></r>", "r(a(b))"},
      {"<a></a><b/>", "a,b"},
      {"<a/></x><b/>", "a"},  // a close tag at document level ends it
      {"<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM \"r.dtd\"><r/>", "r"},
      {"<r><?pi x?><!x><a/></r>", "r(a)"},  // declarations and "<!" tags make no nodes
      {"< r  a = \"1\"\tb\n=\r'2' />", "r[a=1 b=2]"},
      {"<r a b=c d=\"x'y\" e='x\"y' f = />", "r[a= b=c d=x'y e=x\"y f=]"},
      {"<r/ x>", "r[x=]"},           // a stray slash is skipped
      {"<r \"s\" a/>", "r[a=]"},     // so is a stray string
      {"<r a=\"x>y\"/>", "r[a=x]"},  // quoted runs stop before ">" ...
      {"<r a=\"x<b/>", "r[a=x]"},    // ... and before "<", which stops the parse
  });
}

TEST(Xml, MalformedInputEndsTheTreeWhereItEnds) {
  ExpectTrees({
      {"<r><a b=\"1\" <c/></r>", "r(a[b=1])"},  // an open token inside a tag
      {"<r><a <!-- c --> /></r>", "r(a)"},      // a comment inside a tag
      {"<r><a <![CDATA[x]]>/></r>", "r(a)"},    // character data inside a tag
      {"<r><a>text", "r(a)"},
      {"<r><a>text</a", "r(a\"text\")"},
      {"<r><!-- open <a/>", "r"},
      {"<r><a b=\"1", "r(a[b=1])"},
      {"text only, no tags", ""},
      {">>> </ <", ""},
  });
}

TEST(Xml, OnlyLeavesKeepTextTrimmedUnlessPreserved) {
  ExpectTrees({
      {"<a>  t x \r\n</a>", "a\"t x\""},
      {"<a> &#32;x&#32; </a>", "a\" x \""},  // trimmed as bytes, before entities
      {"<a xml:space=\"preserve\"> t </a>", "a\" t \""},
      {"<a xml:space='PRESERVE' k='v'>\t</a>", "a[k=v]\"\t\""},
      {"<a xml:space=\"default\"> t </a>", "a\"t\""},
      {"<r xml:space=\"preserve\"><a> t </a></r>", "r(a\"t\")"},  // not inherited
      {"<r>pre<a>t</a>post</r>", "r(a\"t\")"},
      {"<a>x<!--c-->y</a>", "a"},  // a comment ends the gathered text
      {"<a><!--c-->y</a>", "a"},
      {"<a>x<?pi?>y</a>", "a"},
      {"<a><![CDATA[ <b> &amp; ]]></a>", "a\" <b> & \""},
      {"<a>x<![CDATA[y]]>z</a>", "a\"y\""},
      {"<a><![CDATA[y]]><!--c--></a>", "a\"y\""},
      {"<a><![CDATA[y]]><b/></a>", "a(b)"},
      {"<a><b/><![CDATA[y]]></a>", "a(b)"},
      {"<a><![CDATA[open", "a\"open\""},
  });
}

TEST(Xml, EntitiesAndEscapesDecode) {
  const struct {
    const char16_t* in;
    const char16_t* out;
  } cases[] = {
      {u"&amp;&lt;&gt;&quot;&apos;", u"&<>\"'"},
      {u"&#65;&#0065;&#x41;&#X41;&#$41;", u"AAAAA"},
      {u"&amp;lt;", u"&lt;"},                                    // decoded once
      {u"&nbsp;|&AMP;|&#;|&#x;|&#12a;", u"nbsp|AMP|#|#x|#12a"},  // unknown names give the name
      {u"&amp|& amp;|&;|&a-b;|&", u"&amp|& amp;|&;|&a-b;|&"},    // not entities
      {u"\\&amp;|\\<\\>\\\"\\'", u"&amp;|<>\"'"},
      {u"\\n\\\\x\\", u"\\n\\\\x\\"},
      {u"&#x1F3B5;&#xFFFF;&#1114111;", u"\U0001F3B5\uFFFF\U0010FFFF"},
      {u"&#0;|&#xD800;|&#xDFFF;|&#x110000;|&#99999999999999999999999;", u"\uFFFD|\uFFFD|\uFFFD|\uFFFD|\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeXMLEntities(c.in), c.out) << ToUtf8(c.in);

  // Both attribute values and text go through it.
  EXPECT_EQ(FirstValue("<a v=\"&amp;&lt;&#65;&#x41;\"/>"), u"&<AA");
  EXPECT_EQ(Parse("<a>1 &lt; 2 \\&amp;</a>"), "a\"1 < 2 &amp;\"");
}

TEST(Xml, TheDeclarationChoosesTheEncoding) {
  EXPECT_EQ(FirstValue("<?xml encoding=\"UTF-8\"?><a v=\"\xD0\x96\"/>"), u"\u0416");
  EXPECT_EQ(FirstValue("<?xml encoding=\"windows-1251\"?><a v=\"\xC0\"/>"), u"\u0410");
  EXPECT_EQ(FirstValue("<?xml encoding=\"Windows-65001\"?><a v=\"\xD0\x96\"/>"), u"\u0416");
  EXPECT_EQ(FirstValue("<?xml encoding=\"utf-8\"?><a v=\"x\xFFy\"/>"), u"x\uFFFDy");
  // Everything else is the ANSI code page, as is a file without a declaration.
  for (const char* xml :
       {"<a v=\"\xD0\x96\"/>", "<?xml version=\"1.0\"?><a v=\"\xD0\x96\"/>",
        "<?xml encoding=\"utf8\"?><a v=\"\xD0\x96\"/>", "<?xml encoding=\"Windows-\"?><a v=\"\xD0\x96\"/>",
        "<?xml encoding=\"Windows-12x\"?><a v=\"\xD0\x96\"/>", "<?xml encoding=\"Windows-99999\"?><a v=\"\xD0\x96\"/>",
        "<?xml encoding=\"Windows-4294967297\"?><a v=\"\xD0\x96\"/>"}) {
    EXPECT_EQ(FirstValue(xml), Ansi("\xD0\x96")) << xml;
    EXPECT_NE(FirstValue(xml), u"\u0416") << xml;
  }
  // The choice holds for the rest of the file; an instruction without an encoding keeps it.
  TZELXMLDocument doc;
  doc.LoadFromBytes(
      "<r v=\"\xC0\"><?xml encoding=\"Windows-1251\"?>"
      "<a v=\"\xC0\"/><?style x?><b v=\"\xC0\"/></r>");
  ASSERT_EQ(doc.Child(0)->ChildCount(), 2u);
  EXPECT_EQ(doc.Child(0)->AttributeValue("v"), Ansi("\xC0"));
  EXPECT_EQ(doc.Child(0)->Child(0)->AttributeValue("v"), u"\u0410");
  EXPECT_EQ(doc.Child(0)->Child(1)->AttributeValue("v"), u"\u0410");
  // Bytes a code page leaves undefined spoil only themselves, not the whole value.
  const String mixed = FirstValue("<?xml encoding=\"Windows-1252\"?><a v=\"\xC0\x81z\"/>");
  ASSERT_EQ(mixed.size(), 3u);
  EXPECT_EQ(mixed[0], u'\u00C0');
  EXPECT_EQ(mixed[2], u'z');
}

TEST(Xml, SampleScriptsDecodeTextButKeepNamesAsBytes) {
  TFileStream utf8(kivo::test::DataPath(u"xml/utf8.xml"), FileMode::OpenRead);
  const TZELXMLDocument script(utf8);
  ASSERT_EQ(script.ChildCount(), 1u);
  const TZELXMLNode* license = script.Child(0)->FindChild("setup")->FindChild("license");
  ASSERT_NE(license, nullptr);
  ASSERT_EQ(license->ChildCount(), 2u);
  EXPECT_EQ(license->Child(0)->Text(), u"\u041b\u0438\u0446\u0435\u043d\u0437\u0438\u044f");
  EXPECT_EQ(license->Child(1)->Text(), u"Lizenz f\u00fcr \u00dcbersetzer");
  EXPECT_EQ(license->Child(1)->AttributeValue("lang-family"), u"DE");
  const TZELXMLNode* setting = script.Child(0)->FindChild("product")->FindChild("Settings")->Child(0);
  EXPECT_EQ(setting->AttributeValue("value"), u"KIVO \U0001F3B5 \u041f\u043b\u0435\u0435\u0440");

  TFileStream cp1251(kivo::test::DataPath(u"xml/cp1251.xml"), FileMode::OpenRead);
  const TZELXMLDocument legacy(cp1251);
  ASSERT_EQ(legacy.ChildCount(), 1u);
  const TZELXMLNode* letter = legacy.Child(0)->FindChild("product")->FindChild("Settings")->Child(0);
  EXPECT_EQ(letter->AttributeValue("value"), u"\u0410");

  TZELXMLDocument doc;
  doc.LoadFromBytes("<?xml encoding=\"utf-8\"?><\xD0\x96 \xD0\xB8=\"1\"/>");
  EXPECT_EQ(doc.Child(0)->Name(), "\xD0\x96");
  EXPECT_EQ(doc.Child(0)->AttributeValue("\xD0\xB8"), u"1");
}

TEST(Xml, LoadingReadsTheRemainingBytes) {
  const struct {
    const char* bytes;
    size_t position;
    size_t children;
  } cases[] = {
      {"", 0, 0},
      {"<a/>", 0, 0},  // fewer than 5 bytes
      {"<a/> ", 0, 1},
      {"<a/><b/>", 4, 0},    // 4 bytes left
      {"<a/>|<b/> ", 5, 1},  // from the position on
      {"SXML<a/><b/>", 0, 0},
      {"BXML<a/><b/>", 0, 0},  // binary forms: left empty
      {"sxml<a/><b/>", 0, 2},
  };
  for (const auto& c : cases) {
    const std::string text = c.bytes;
    TMemoryStream stream(std::vector<uint8_t>(text.begin(), text.end()));
    stream.SetPosition(static_cast<int64_t>(c.position));
    TZELXMLDocument doc(stream);
    EXPECT_EQ(doc.ChildCount(), c.children) << text;
  }

  TZELXMLDocument doc;
  doc.LoadFromBytes("<a x=\"1\"/>");
  doc.LoadFromBytes("<b/> ");
  EXPECT_EQ(Dump(doc), "(b)");
  doc.LoadFromBytes("SXML....");
  EXPECT_EQ(doc.ChildCount(), 0u);
}

TEST(Xml, NodesAnswerByIndexAndExactName) {
  TZELXMLDocument doc;
  doc.LoadFromBytes("<r Name=\"1\" name=\"2\" name=\"3\"><File/><file/></r>");
  EXPECT_EQ(doc.Parent(), nullptr);
  const TZELXMLNode* r = doc.Child(0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Parent(), &doc);
  EXPECT_EQ(doc.Child(1), nullptr);
  EXPECT_EQ(doc.Child(SIZE_MAX), nullptr);

  const TZELXMLAttributes& attributes = r->Attributes();
  EXPECT_EQ(attributes.Count(), 3u);
  EXPECT_EQ(attributes.Item(3), nullptr);
  EXPECT_EQ(r->AttributeValue("name"), u"2");  // the first of that exact name
  EXPECT_EQ(r->AttributeValue("Name"), u"1");
  EXPECT_EQ(r->AttributeValue("NAME"), u"");
  EXPECT_EQ(r->AttributeValue("nam"), u"");
  EXPECT_EQ(attributes.Find("names"), nullptr);

  EXPECT_EQ(r->FindChild("file"), r->Child(1));
  EXPECT_EQ(r->FindChild("FILE"), nullptr);
  EXPECT_EQ(r->FindChildIgnoreCase("FILE"), r->Child(0));
  EXPECT_EQ(r->Child(1)->Parent(), r);
}

TEST(Xml, DeepNestingNeitherParsesNorFreesRecursively) {
  constexpr size_t Depth = 1000000;
  std::string xml;
  for (size_t i = 0; i < Depth; ++i) xml += "<a>";
  xml += "x";
  std::string closed = xml;
  for (size_t i = 0; i < Depth; ++i) closed += "</a>";

  auto innermost = [](const TZELXMLNode& root, size_t& depth) {
    const TZELXMLNode* node = &root;
    for (depth = 0; node->ChildCount() == 1; ++depth) node = node->Child(0);
    return node;
  };
  size_t depth = 0;
  auto doc = std::make_unique<TZELXMLDocument>();
  doc->LoadFromBytes(xml);
  EXPECT_EQ(innermost(*doc, depth)->Text(), u"");  // never closed
  EXPECT_EQ(depth, Depth);
  doc->LoadFromBytes(closed);  // frees the old tree
  EXPECT_EQ(innermost(*doc, depth)->Text(), u"x");
  EXPECT_EQ(depth, Depth);
  doc.reset();
}
