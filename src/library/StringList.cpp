#include "library/StringList.h"

namespace zel {

void TZELStringList::CheckIndex(size_t index) const {
  if (index >= FLines.size())
    throw EStringListError(Format(u"List index out of bounds (%d)", static_cast<long long>(index)));
}

const String& TZELStringList::operator[](size_t index) const {
  CheckIndex(index);
  return FLines[index];
}

String& TZELStringList::operator[](size_t index) {
  CheckIndex(index);
  return FLines[index];
}

size_t TZELStringList::Add(StringView line) {
  FLines.emplace_back(line);
  return FLines.size() - 1;
}

void TZELStringList::Insert(size_t index, StringView line) {
  if (index > FLines.size()) CheckIndex(index);
  FLines.emplace(FLines.begin() + static_cast<ptrdiff_t>(index), line);
}

void TZELStringList::Delete(size_t index) {
  CheckIndex(index);
  FLines.erase(FLines.begin() + static_cast<ptrdiff_t>(index));
}

ptrdiff_t TZELStringList::IndexOf(StringView line) const {
  for (size_t i = 0; i < FLines.size(); ++i)
    if (SameText(FLines[i], line)) return static_cast<ptrdiff_t>(i);
  return -1;
}

ptrdiff_t TZELStringList::IndexOfName(StringView name) const {
  for (size_t i = FLines.size(); i-- > 0;) {
    const String& line = FLines[i];
    const size_t sep = line.find(NameValueSeparator);
    // Cheap length test first: SameText goes through the locale service.
    if (sep == name.size() && SameText(StringView(line).substr(0, sep), name)) return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

String TZELStringList::Names(size_t index) const {
  const String& line = (*this)[index];
  const size_t sep = line.find(NameValueSeparator);
  return sep == String::npos ? String() : line.substr(0, sep);
}

String TZELStringList::ValueFromIndex(size_t index) const {
  const String& line = (*this)[index];
  const size_t sep = line.find(NameValueSeparator);
  return sep == String::npos ? String() : line.substr(sep + 1);
}

String TZELStringList::Values(StringView name) const {
  const ptrdiff_t i = IndexOfName(name);
  return i < 0 ? String() : ValueFromIndex(static_cast<size_t>(i));
}

void TZELStringList::SetValue(StringView name, StringView value) {
  String line(name);
  line += NameValueSeparator;
  line += value;
  const ptrdiff_t i = IndexOfName(name);
  if (i < 0) FLines.push_back(std::move(line));
  else FLines[static_cast<size_t>(i)] = std::move(line);
}

String TZELStringList::Text() const { return Join(FLines, u"\r\n"); }

void TZELStringList::SetText(StringView text) {
  std::vector<String> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c != u'\r' && c != u'\n') {
      ++i;
      continue;
    }
    lines.emplace_back(text.substr(start, i - start));
    i += (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ? 2 : 1;
    start = i;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  FLines = std::move(lines);
}

}  // namespace zel
