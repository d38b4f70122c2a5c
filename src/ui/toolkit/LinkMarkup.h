#pragma once
// Formatted text apart from the windows, so that it is tested natively: labels with links
// ("<a href=\"https://...\">text</a>"), format texts whose web addresses become links, and
// how far a translated caption may grow.
#include <vector>

#include "library/Strings.h"

namespace zel {

// The width a control at left gets for a caption that needs `needed` units: its own
// width when that suffices, else wider up to maxRight (never narrower than it was).
int FittedWidth(int left, int width, int needed, int maxRight);

// A format text with string placeholders ("%s") filled with the arguments; an argument
// that is a web address becomes a link to itself, any other goes in as it is (so it may
// carry the formatted label's own markup).
String FormatWithLinks(StringView format, const std::vector<String>& args);

// A piece of formatted text: plain, or a link with its address ("<a href="...">text</a>";
// "<a>text</a>" is a link without one). Anything else is text as it stands.
struct TTextRun {
  String Text;
  bool Link = false;
  String Url;
  bool operator==(const TTextRun&) const = default;
};
std::vector<TTextRun> ParseLinkMarkup(StringView markup);

}  // namespace zel
