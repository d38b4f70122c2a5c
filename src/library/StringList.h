#pragma once
// TZELStringList: the component library's ordered list of strings. Lines may be
// name=value pairs; a line's name is the text before its first "=", compared
// case-insensitively, and name lookups search from the last line to the first so
// that a later line overrides an earlier one.
#include <cstddef>
#include <vector>

#include "library/Exceptions.h"
#include "library/Strings.h"

namespace zel {

// An index outside the list: "List index out of bounds (%d)".
class EStringListError : public Exception {
public:
  using Exception::Exception;
};

class TZELStringList {
public:
  static constexpr char16_t NameValueSeparator = u'=';

  TZELStringList() = default;
  virtual ~TZELStringList() = default;
  TZELStringList(const TZELStringList&) = default;
  TZELStringList& operator=(const TZELStringList&) = default;
  TZELStringList(TZELStringList&&) noexcept = default;
  TZELStringList& operator=(TZELStringList&&) noexcept = default;

  size_t Count() const noexcept { return FLines.size(); }
  bool IsEmpty() const noexcept { return FLines.empty(); }
  // Bounds-checked: an index outside the list raises EStringListError.
  const String& operator[](size_t index) const;
  String& operator[](size_t index);

  size_t Add(StringView line);                 // returns the new line's index
  void Insert(size_t index, StringView line);  // index may equal Count()
  void Delete(size_t index);
  void Clear() noexcept { FLines.clear(); }
  void Reserve(size_t count) { FLines.reserve(count); }

  // First line equal to `line` (case-insensitive), or -1.
  ptrdiff_t IndexOf(StringView line) const;
  // Last line whose name equals `name` (case-insensitive, equal length), or -1. Lines
  // without "=" have no name and are never found.
  ptrdiff_t IndexOfName(StringView name) const;

  // The text before the first "=" of a line; empty for a line without "=".
  String Names(size_t index) const;
  // The text after the first "=" of a line; empty for a line without "=".
  String ValueFromIndex(size_t index) const;
  // The value of the last line named `name`; empty when there is none.
  String Values(StringView name) const;
  // Replaces the last line named `name` with name=value, or appends it. An empty
  // value keeps the line ("name="): removing a line is Delete's job.
  void SetValue(StringView name, StringView value);

  // The lines joined with CR LF (no line break after the last line).
  String Text() const;
  // Replaces the lines with `text` cut at CR LF, CR or LF. A line break at the very
  // end ends the last line instead of starting an empty one, as text files end.
  void SetText(StringView text);

  const std::vector<String>& Lines() const noexcept { return FLines; }
  std::vector<String>::const_iterator begin() const noexcept { return FLines.begin(); }
  std::vector<String>::const_iterator end() const noexcept { return FLines.end(); }

private:
  void CheckIndex(size_t index) const;

  std::vector<String> FLines;
};

}  // namespace zel
