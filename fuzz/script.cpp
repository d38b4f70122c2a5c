// Install.xml text -> XML -> TInstallerScript: any bytes load, and the model keeps its
// promises (settings are name=value lines, lookups find what the groups hold).
#include <cstddef>
#include <cstdint>

#include "package/InstallerScript.h"
#include "library/Streams.h"

using namespace zel;
using namespace kivo;

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

void CheckGroup(const TInstallerScriptGroup& group) {
  for (const auto& entry : group) {
    // The first entry for a family is one that matches it.
    const TInstallerScriptFile* found = group.Find(entry->LangFamily);
    Check(found != nullptr && MatchesLangFamily(*found, entry->LangFamily));
    entry->GetTextOrName();
  }
  Check(group.Find(u"") == nullptr || group.Find(u"")->LangFamily.empty() || group.Count() > 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  TInstallerScript script;
  TReadOnlyMemoryStream stream(data, size);
  script.LoadFromStream(stream);
  CheckGroup(script.Actions);
  CheckGroup(script.Components);
  CheckGroup(script.License);
  CheckGroup(script.Shortcuts);
  for (size_t i = 0; i < script.Settings.Count(); ++i) {
    const String name = script.Settings.Names(i);
    script.GetValue(name);
  }
  // Loading the same bytes again gives the same model.
  TInstallerScript again;
  TReadOnlyMemoryStream second(data, size);
  again.LoadFromStream(second);
  Check(again.Settings.Lines() == script.Settings.Lines());
  Check(again.Components.Count() == script.Components.Count());
  return 0;
}
