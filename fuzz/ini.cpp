// Loads arbitrary bytes as an INI file, reads every key, then saves and reloads in each
// lossless encoding: the reloaded document must serialise to exactly what was saved.
#include <cstdint>
#include <cstdlib>

#include "library/IniFile.h"

using namespace zel;

namespace {

void ReadEverything(TZELIniFile& ini) {
  for (size_t i = 0; i < ini.SectionCount(); ++i) {
    const String name = ini.SectionName(i);
    std::vector<String> keys;
    ini.ReadKeys(name, keys);
    for (const String& key : keys) {
      String value;
      if (!ini.TryReadString(name, key, value)) std::abort();  // every listed key is readable
      ini.ReadInteger(name, key, 0);
      TMemoryStream stream;
      ini.ReadStream(name, key, stream);
    }
    ini.ReadSectionText(name);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TZELIniFile ini;
  TReadOnlyMemoryStream input(data, size);
  ini.LoadFromStream(input);
  ReadEverything(ini);
  const String text = ini.SaveToText();

  for (TZELIniEncoding encoding : {TZELIniEncoding::Utf16LE, TZELIniEncoding::Utf8, TZELIniEncoding::Utf16BE}) {
    TMemoryStream saved;
    ini.SaveToStream(saved, encoding);
    saved.SetPosition(0);
    TZELIniFile again;
    again.LoadFromStream(saved);
    if (again.Encoding() != encoding || again.SaveToText() != text) std::abort();
  }

  // Assigning copies the text; merging a file's own content adds nothing, and with
  // overwrite on it may rewrite a key's spelling but never a value.
  TZELIniFile copy;
  copy.Assign(ini);
  copy.Merge(ini, false);
  if (copy.SaveToText() != text) std::abort();
  copy.Merge(ini, true);
  for (size_t i = 0; i < ini.SectionCount(); ++i) {
    const String name = ini.SectionName(i);
    std::vector<String> keys;
    ini.ReadKeys(name, keys);
    for (const String& key : keys)
      if (copy.ReadString(name, key, u"") != ini.ReadString(name, key, u"")) std::abort();
  }
  return 0;
}
