#pragma once
// The ready page's summary: groups of a header line followed by indented lines. A
// header is written only once a line follows it, and groups are separated by an empty
// line. Language texts come through an injected lookup (on Windows the resources'
// GetText), so the builder itself needs no platform; they are written without the
// access keys that the same texts carry on the pages.
#include <functional>

#include "library/Strings.h"

namespace kivo {

class TInstallerSummaryBuilder {
public:
  using TTextLookup = std::function<zel::String(zel::StringView section, zel::StringView key)>;

  explicit TInstallerSummaryBuilder(TTextLookup lookup) : FLookup(std::move(lookup)) {}

  // The pending header; it replaces an earlier one that got no line.
  void SetGroup(zel::StringView text);
  void SetGroup(zel::StringView section, zel::StringView key);
  // One line, indented by four spaces, under the pending header.
  void AddLine(zel::StringView text);
  void AddLine(zel::StringView section, zel::StringView key);

  const zel::String& ToString() const { return FText; }

private:
  zel::String Lookup(zel::StringView section, zel::StringView key) const;

  TTextLookup FLookup;
  zel::String FText;
  zel::String FGroup;
};

}  // namespace kivo
