#include <gtest/gtest.h>

#include "package/PathVariables.h"

using namespace zel;
using namespace kivo;

namespace {

TPathVariables Values(String dest) {
  TPathVariables v;
  v.Dest = [dest] { return dest; };
  v.Temp = [] { return String(u"T:\\$NAME\\"); };
  v.Desktop = [] { return String(u"D:\\Desk\\"); };
  v.StartMenu = [] { return String(u"S:\\$PROGRAMS\\"); };
  v.Programs = [] { return String(u"P:\\$DEST\\"); };
  v.Link = [] { return String(u"https://x/$NAME"); };
  v.Name = [] { return String(u"KIVO $VERSION"); };
  v.Version = [] { return String(u"5.10$DESKTOP"); };
  return v;
}

}  // namespace

TEST(PathVariables, FolderValuesAreNeverExpandedAgain) {
  struct Case {
    const char16_t* dest;
    const char16_t* text;
    const char16_t* expanded;
  };
  const Case cases[] = {
      {u"C:\\$NAME\\", u"$DESTUninstall.exe", u"C:\\$NAME\\Uninstall.exe"},
      {u"C:\\$TEMP\\", u"$DEST|$TEMP", u"C:\\$TEMP\\|T:\\$NAME\\"},
      {u"C:\\K\\", u"$STARTMENU", u"S:\\$PROGRAMS\\"},
      {u"C:\\K\\", u"$PROGRAMS", u"P:\\$DEST\\"},
      // Product texts still go through the later steps, and only those.
      {u"C:\\K\\", u"$LINK", u"https://x/KIVO 5.10D:\\Desk\\"},
      {u"C:\\K\\", u"$VERSION", u"5.10D:\\Desk\\"},
      // A name that a product text completes with the text after it, as always.
      {u"C:\\K\\", u"$NAMEx", u"KIVO 5.10D:\\Desk\\x"},
      {u"C:\\K\\", u"a\\nb $dest", u"a\r\nb $dest"},
      {u"C:\\K\\", u"$DEST$DEST", u"C:\\K\\C:\\K\\"},
      {u"", u"$DESTx", u"x"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandPathVariables(c.text, Values(c.dest)), c.expanded) << ToUtf8(c.text);
  // Paths leave out the line-break step, and only that.
  EXPECT_EQ(ExpandPathVariables(u"$DEST\\notes\\$NAME", Values(u"C:\\K\\"), false),
            u"C:\\K\\\\notes\\KIVO 5.10D:\\Desk\\");
}

TEST(PathVariables, ValuesAreAskedForOnlyWhenUsed) {
  int asked = 0;
  TPathVariables v;
  v.Name = [&] {
    ++asked;
    return String(u"N");
  };
  EXPECT_EQ(ExpandPathVariables(u"$DEST$TEMPx", v), u"x");  // empty functions: empty values
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(ExpandPathVariables(u"$NAME$NAME", v), u"NN");
  EXPECT_EQ(asked, 1);
}

TEST(PathVariables, CleanPathKeepsRootsAndCleansElements) {
  struct Case {
    String text;
    String path;
  };
  const Case cases[] = {
      {u"C:\\A<b>\\c. \\d", u"C:\\Ab\\c\\d"},
      {u"C:\\a\\\\b\\\\\\c\\", u"C:\\a\\b\\c\\"},
      {u"C:", u"C:"},
      {u"\\\\ser?ver\\sh:are", u"\\\\ser?ver\\share"},
      {u"C:\\.\\..\\...", u"C:\\.\\.\\."},
      {u"rel\\a|b", u"rel\\ab"},
      {u"\\\\?\\UNC\\srv\\sh?are\\", u"\\\\?\\UNC\\srv\\share\\"},
      // Cut to 260 first, trimmed after: no trailing space or dot survives the cut.
      {u"C:\\" + String(259, u'x') + u" y", u"C:\\" + String(259, u'x')},
      {u"C:\\" + String(258, u'x') + u". y", u"C:\\" + String(258, u'x')},
      // Nor half a surrogate pair.
      {u"C:\\" + String(259, u'x') + u"\U0001F600", u"C:\\" + String(259, u'x')},
      // A UNC root without a server keeps it so: no element becomes the server.
      {u"\\\\\\??Y\\<z", u"\\\\\\Y\\z"},
      {u"\\\\?\\UNC\\\\x\\", u"\\\\?\\UNC\\\\x\\"},
      // A relative text whose elements all vanish stays relative: not the drive's root.
      {u"<\\\\", u""},
      {u"\\", u"\\"},
      {u"", u""},
  };
  for (const Case& c : cases) {
    const String cleaned = CleanPath(c.text);
    EXPECT_EQ(cleaned, c.path) << ToUtf8(c.text);
    EXPECT_EQ(CleanPath(cleaned), cleaned) << ToUtf8(c.text);
  }
}
