#include "ui/toolkit/LinkMarkup.h"

#include <algorithm>

namespace zel {

int FittedWidth(int left, int width, int needed, int maxRight) {
  if (needed <= width) return width;
  return std::max(width, std::min(needed, maxRight - left));
}

String FormatWithLinks(StringView format, const std::vector<String>& args) {
  String text;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%' || i + 1 >= format.size()) {
      text += format[i];
      continue;
    }
    const char16_t kind = format[++i];
    if (kind == u'%') {
      text += u'%';
    } else if (kind == u's') {
      const String arg = next < args.size() ? args[next] : String();
      ++next;
      const bool address = StartsWithText(arg, u"https://") || StartsWithText(arg, u"http://");
      text += address ? u"<a href=\"" + arg + u"\">" + arg + u"</a>" : arg;
    } else {
      text += u'%';
      text += kind;
    }
  }
  return text;
}

std::vector<TTextRun> ParseLinkMarkup(StringView markup) {
  std::vector<TTextRun> runs;
  auto add = [&](StringView text, bool link, const String& url) {
    if (text.empty() && !link) return;
    if (!link && !runs.empty() && !runs.back().Link) {
      runs.back().Text += text;
      return;
    }
    runs.push_back({String(text), link, url});
  };
  size_t at = 0;
  while (at < markup.size()) {
    const size_t open = markup.find(u"<a", at);
    if (open == StringView::npos) break;
    const size_t tagEnd = markup.find(u'>', open);
    const size_t close = tagEnd == StringView::npos ? StringView::npos : markup.find(u"</a>", tagEnd);
    const StringView attributes =
        tagEnd == StringView::npos ? StringView() : markup.substr(open + 2, tagEnd - open - 2);
    String url;
    bool valid = close != StringView::npos;
    if (valid && !attributes.empty()) {
      // Only " href=\"...\"" is known; any other tag is text.
      constexpr StringView kHref = u" href=\"";
      valid =
          attributes.size() > kHref.size() && attributes.substr(0, kHref.size()) == kHref && attributes.back() == u'"';
      if (valid) url = String(attributes.substr(kHref.size(), attributes.size() - kHref.size() - 1));
      valid = valid && url.find(u'"') == String::npos;
    }
    if (!valid) {
      add(markup.substr(at, open + 2 - at), false, {});
      at = open + 2;
      continue;
    }
    add(markup.substr(at, open - at), false, {});
    add(markup.substr(tagEnd + 1, close - tagEnd - 1), true, url);
    at = close + 4;
  }
  if (at < markup.size()) add(markup.substr(at), false, {});
  return runs;
}

}  // namespace zel
