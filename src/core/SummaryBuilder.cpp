#include "core/SummaryBuilder.h"

namespace kivo {

using namespace zel;

namespace {
constexpr StringView kLineBreak = u"\r\n";
constexpr StringView kIndent = u"    ";

// The texts of controls carry their access key ("&Start", "Rock && Roll"); a summary
// line is plain text.
String WithoutAccessKey(StringView text) {
  String plain;
  plain.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size()) ++i;
    plain += text[i];
  }
  return plain;
}
}  // namespace

void TInstallerSummaryBuilder::SetGroup(StringView text) { FGroup = String(text); }

void TInstallerSummaryBuilder::SetGroup(StringView section, StringView key) { SetGroup(Lookup(section, key)); }

void TInstallerSummaryBuilder::AddLine(StringView text) {
  if (!FGroup.empty()) {
    if (!FText.empty()) FText += kLineBreak;
    FText += FGroup;
    FText += kLineBreak;
    FGroup.clear();
  }
  FText += kIndent;
  FText += text;
  FText += kLineBreak;
}

void TInstallerSummaryBuilder::AddLine(StringView section, StringView key) { AddLine(Lookup(section, key)); }

String TInstallerSummaryBuilder::Lookup(StringView section, StringView key) const {
  return FLookup ? WithoutAccessKey(FLookup(section, key)) : String();
}

}  // namespace kivo
