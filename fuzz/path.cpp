// Path cleaning and "$" expansion with invariants: cleaning is idempotent, never leaves
// "..", a refused character, a trailing space or dot, or an over-long element after the
// root, and never turns a relative path absolute; a folder value is never expanded again.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "package/PathVariables.h"

using namespace zel;
using namespace kivo;

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool Rooted(StringView path) { return (path.size() >= 2 && path[1] == u':') || (!path.empty() && path[0] == u'\\'); }

// The length of the root CleanPath keeps as written.
size_t RootLength(StringView path) {
  if (path.substr(0, 8) == u"\\\\?\\UNC\\") {
    const size_t next = path.find(u'\\', 8);
    return next == StringView::npos ? path.size() : next;
  }
  const size_t prefix = path.substr(0, 4) == u"\\\\?\\" ? 4 : 0;
  if (path.size() >= prefix + 2 && path[prefix + 1] == u':') return prefix + 2;
  if (prefix == 0 && path.substr(0, 2) == u"\\\\") {
    const size_t next = path.find(u'\\', 2);
    return next == StringView::npos ? path.size() : next;
  }
  return prefix;
}

void CheckClean(const String& text) {
  const String cleaned = CleanPath(text);
  // Known gap: after a bare long-path prefix ("\\?\" without a drive), a first element
  // cleaned to "UNC" reads back as the UNC prefix. The program never writes such paths.
  if (text.substr(0, 4) == u"\\\\?\\" && cleaned.substr(0, 8) == u"\\\\?\\UNC\\" &&
      text.substr(0, 8) != cleaned.substr(0, 8))
    return;
  Check(CleanPath(cleaned) == cleaned);
  if (!Rooted(text)) Check(!Rooted(cleaned));
  const size_t root = RootLength(cleaned);
  // A trailing backslash where the text had one (a bare root such as "\\" may end in
  // its own).
  if (cleaned.size() > root) Check((!text.empty() && text.back() == u'\\') == (cleaned.back() == u'\\'));
  Check(cleaned.substr(0, root) == StringView(text).substr(0, root));
  StringView rest = StringView(cleaned).substr(root);
  while (!rest.empty()) {
    if (rest[0] == u'\\') {
      rest.remove_prefix(1);
      continue;
    }
    const size_t end = std::min(rest.find(u'\\'), rest.size());
    const StringView element = rest.substr(0, end);
    Check(element != u"..");
    Check(element.find_first_of(u"/<>*:?|\"") == StringView::npos);
    Check(element.size() <= 260 && element[0] != u' ');
    Check(element.size() == 1 || (element.back() != u' ' && element.back() != u'.'));
    Check(CleanPathElement(element) == element);
    rest.remove_prefix(end);
  }
}

void CheckExpand(const String& text, const String& folder) {
  TPathVariables values;
  values.Dest = [&] { return folder; };
  values.Name = [] { return String(u"N"); };
  // A text made only of the folder variable gives exactly the folder, whatever it holds.
  Check(ExpandPathVariables(u"$DEST", values) == folder);
  const String expanded = ExpandPathVariables(text, values);
  // Without the folder, nothing is closed: the text expands as the plain replacements
  // one after another.
  if (text.find(u"$DEST") == String::npos) {
    String plain = ReplaceAll(text, u"\\n", u"\r\n");
    for (const char16_t* name :
         {u"$DEST", u"$TEMP", u"$LINK", u"$NAME", u"$VERSION", u"$DESKTOP", u"$STARTMENU", u"$PROGRAMS"})
      plain = ReplaceAll(plain, name, StringView(name) == u"$NAME" ? u"N" : u"");
    Check(expanded == plain);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const String text = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  CheckClean(text);
  const size_t cut = text.find(u'\0');
  if (cut != String::npos) CheckExpand(text.substr(0, cut), text.substr(cut + 1));
  else CheckExpand(text, u"C:\\$NAME\\");
  return 0;
}
