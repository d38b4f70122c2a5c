#include "product/ProductPageRules.h"

namespace kivo {

using zel::String;
using zel::StringView;

TSetupPageView SetupPageView(const TSetupPageInput& input) {
  TSetupPageView view;
  view.UpdateChecked = input.Update;
  view.UpdateVisible = input.CanUpdate;
  view.BackupChecked = !input.NoBackup;
  view.BackupVisible = input.Update;
  // An update keeps the kind the installed copy has; the user cannot change it.
  const bool portable = input.Update ? input.InstalledPortable : input.Portable;
  view.PortableChosen = portable && !input.ProgramFilesPath;
  view.KindEnabled = !input.Update;
  view.UpdateWarning = input.Update;
  return view;
}

String BrowsedDestination(StringView folder, StringView productName, bool holdsInstallation) {
  if (folder.empty()) return {};
  const String path = zel::IncludeTrailingBackslash(folder);
  if (holdsInstallation) return path;
  if (zel::SameText(zel::ExtractFileName(zel::ExcludeTrailingBackslash(path)), productName)) return path;
  return path + String(productName) + u"\\";
}

String DestinationForKind(bool portable, StringView dest, bool programFilesPath, StringView portablePath,
                          StringView defaultPath) {
  if (portable) return programFilesPath ? String(portablePath) : String();
  return zel::SameText(dest, portablePath) ? String(defaultPath) : String();
}

TTypedFolderProblem TypedFolderProblem(StringView path) {
  using TKind = TTypedFolderProblem::TKind;
  const String text = zel::Trim(path);
  if (text.empty()) return {};
  auto separator = [](char16_t c) { return c == u'\\' || c == u'/'; };
  auto letter = [](char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); };
  size_t rest = 0;  // where the folder names begin
  if (text.size() >= 3 && letter(text[0]) && text[1] == u':' && separator(text[2])) {
    rest = 3;
  } else if (text.size() >= 2 && separator(text[0]) && separator(text[1])) {
    // "\\server\share\...": a server and a share name at least; "\\?\" and "\\.\" are
    // device paths, not folders a person types.
    const size_t server = text.find_first_of(u"\\/", 2);
    if (server == 2 || server == String::npos || server + 1 >= text.size() || separator(text[server + 1]))
      return {TKind::Relative, {}};
    const StringView name = StringView(text).substr(2, server - 2);
    if (name == u"?" || name == u".") return {TKind::Relative, {}};
    rest = 2;
  } else {
    return {TKind::Relative, {}};
  }
  for (size_t i = rest; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 32 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' || c == u'*')
      return {TKind::InvalidCharacter, String(1, c)};
  }
  return {};
}

String FormatByteSize(uint64_t bytes, const String (&units)[3], char16_t decimalSeparator) {
  constexpr uint64_t kKilo = 1024;
  int unit = 0;
  uint64_t scale = kKilo;
  if (bytes >= kKilo * kKilo * kKilo) {
    unit = 2;
    scale = kKilo * kKilo * kKilo;
  } else if (bytes >= kKilo * kKilo) {
    unit = 1;
    scale = kKilo * kKilo;
  }
  // Tenths, rounded up, so that a size is never shown smaller than it is.
  const uint64_t tenths = (bytes * 10 + scale - 1) / scale;
  String number = zel::IntToStr(static_cast<long long>(tenths / 10));
  if (tenths < 1000 && unit > 0) {
    number += decimalSeparator;
    number += static_cast<char16_t>(u'0' + tenths % 10);
  } else if (unit == 0 || tenths >= 1000) {
    number = zel::IntToStr(static_cast<long long>((tenths + 9) / 10));
  }
  return number + u" " + units[unit];
}

}  // namespace kivo
