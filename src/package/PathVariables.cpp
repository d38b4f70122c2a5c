#include "package/PathVariables.h"

#include <algorithm>
#include <vector>

namespace kivo {

using namespace zel;

namespace {

// Longest element CleanPath keeps.
constexpr size_t kMaxPathElement = 260;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }

// The text being expanded: runs of text still open to later steps, and folder values,
// which are closed. Adjacent open runs are kept joined, so a name that a product text
// completes with the text after it is found as it always was.
struct TPiece {
  String Text;
  bool Closed = false;
};

void Append(std::vector<TPiece>& pieces, String text, bool closed) {
  if (text.empty()) return;
  if (!closed && !pieces.empty() && !pieces.back().Closed) pieces.back().Text += text;
  else pieces.push_back(TPiece{std::move(text), closed});
}

void Replace(std::vector<TPiece>& pieces, StringView name, const TPathVariables::TValue& valueOf, bool closed) {
  bool used = false;
  for (const TPiece& piece : pieces)
    if (!piece.Closed && piece.Text.find(name) != String::npos) used = true;
  if (!used) return;
  const String value = valueOf ? valueOf() : String();
  std::vector<TPiece> out;
  out.reserve(pieces.size() + 2);
  for (TPiece& piece : pieces) {
    if (piece.Closed) {
      out.push_back(std::move(piece));
      continue;
    }
    size_t start = 0;
    for (size_t found; (found = piece.Text.find(name, start)) != String::npos; start = found + name.size()) {
      Append(out, piece.Text.substr(start, found - start), false);
      Append(out, value, closed);
    }
    Append(out, piece.Text.substr(start), false);
  }
  pieces = std::move(out);
}

}  // namespace

String ExpandPathVariables(StringView text, const TPathVariables& values, bool lineBreaks) {
  std::vector<TPiece> pieces;
  Append(pieces, lineBreaks ? ReplaceAll(text, u"\\n", u"\r\n") : String(text), false);
  Replace(pieces, u"$DEST", values.Dest, true);
  Replace(pieces, u"$TEMP", values.Temp, true);
  Replace(pieces, u"$LINK", values.Link, false);
  Replace(pieces, u"$NAME", values.Name, false);
  Replace(pieces, u"$VERSION", values.Version, false);
  Replace(pieces, u"$DESKTOP", values.Desktop, true);
  Replace(pieces, u"$STARTMENU", values.StartMenu, true);
  Replace(pieces, u"$PROGRAMS", values.Programs, true);
  String out;
  for (const TPiece& piece : pieces) out += piece.Text;
  return out;
}

String CleanPathElement(StringView element) {
  String out;
  out.reserve(element.size());
  for (char16_t c : element) {
    switch (c) {
      case u'"': out += u'\''; break;
      case u'\\':
      case u'/':
      case u'<':
      case u'>':
      case u'*':
      case u':':
      case u'?':
      case u'|': break;
      default: out += c;
    }
  }
  const size_t first = out.find_first_not_of(u' ');
  out.erase(0, first == String::npos ? out.size() : first);
  // Cut first, then trim: an element cut just after a space or a dot would otherwise
  // keep it, and Windows would drop it silently.
  size_t length = std::min(out.size(), kMaxPathElement);
  // Nor cut a surrogate pair in two.
  if (length < out.size() && length > 1 && IsHighSurrogate(out[length - 1])) --length;
  while (length > 1 && (out[length - 1] == u' ' || out[length - 1] == u'.')) --length;
  out.resize(length);
  return out;
}

String CleanPath(StringView text) {
  // The root stays as written: "C:" or "\\server"; with the long-path prefix, the
  // prefix with the drive ("\\?\C:") or with the server ("\\?\UNC\server").
  size_t prefix = 0;
  if (text.substr(0, 8) == u"\\\\?\\UNC\\") prefix = 8;
  else if (text.substr(0, 4) == u"\\\\?\\") prefix = 4;
  const StringView unprefixed = text.substr(prefix);
  size_t rootLength = 0;
  if (prefix == 8) {
    const size_t next = unprefixed.find(u'\\');
    rootLength = prefix + (next == StringView::npos ? unprefixed.size() : next);
  } else if (unprefixed.size() >= 2 && unprefixed[1] == u':') {
    rootLength = prefix + 2;
  } else if (prefix == 0 && text.size() >= 2 && text[0] == u'\\' && text[1] == u'\\') {
    const size_t next = text.find(u'\\', 2);
    rootLength = next == StringView::npos ? text.size() : next;
  } else {
    rootLength = prefix;
  }
  String out(text.substr(0, rootLength));
  const StringView rest = text.substr(rootLength);

  std::vector<String> elements;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find(u'\\', start);
    if (end == StringView::npos) end = rest.size();
    // Doubled and leading backslashes give empty elements, and so does an element
    // made only of refused characters: all are dropped rather than doubling a separator.
    if (end > start) {
      String element = CleanPathElement(rest.substr(start, end - start));
      if (!element.empty()) elements.push_back(std::move(element));
    }
    start = end + 1;
  }

  // A relative path stays relative; a rooted one gets its separator.
  const bool rooted = !out.empty() || (!rest.empty() && rest.front() == u'\\');
  if (!elements.empty()) {
    // A UNC root with an empty server ("\\" or "\\?\UNC\") ends in a backslash but
    // still needs its separator, or the first element would become the server.
    const bool emptyServer = (prefix == 0 && rootLength == 2 && text.size() > 2) || (prefix == 8 && rootLength == 8);
    if (rooted && (out.empty() || out.back() != u'\\' || emptyServer)) out += u'\\';
    out += Join(elements, u"\\");
  }
  // The trailing backslash of a relative text whose elements all vanished would make it
  // the root of the current drive: it goes with them.
  if (!text.empty() && text.back() == u'\\' && (out.empty() ? rooted : out.back() != u'\\')) out += u'\\';
  return out;
}

}  // namespace kivo
