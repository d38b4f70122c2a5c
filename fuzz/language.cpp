// The language-file flow: a .lng as bytes is loaded, merged over an English base as the
// setup does, its keys read, and its icon decoded with ReadStream.
#include <cstddef>
#include <cstdint>

#include "library/IniFile.h"
#include "library/Streams.h"

using namespace zel;

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

constexpr char16_t kEnglish[] =
    u"[File]\r\nName=English\r\nLangId=1033\r\nFamily=EN\r\nIcon=89504E47\r\n"
    u"[Common]\r\nE1=Error\r\nQM=Quit?\r\nA1=Closing $NAME\r\n[PageWelcome]\r\nL1=Welcome\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  TZELIniFile chosen;
  TReadOnlyMemoryStream input(data, size);
  chosen.LoadFromStream(input);

  // What the language dialog reads of each file.
  chosen.ReadString(u"File", u"Name", u"");
  chosen.ReadInteger(u"File", u"LangId", 0);
  TMemoryStream icon;
  String iconText;
  const bool hasIcon = chosen.TryReadString(u"File", u"Icon", iconText);
  if (chosen.ReadStream(u"File", u"Icon", icon)) {
    Check(hasIcon && icon.Position() == 0 && icon.Size() * 2 == static_cast<int64_t>(iconText.size()));
  } else {
    Check(icon.Size() == 0);
  }

  TZELIniFile texts;
  texts.LoadFromText(kEnglish);
  texts.Merge(chosen, true);
  // Every key of the chosen file now reads as the chosen file's first line for it, and
  // English keys it lacks are still there.
  for (size_t i = 0; i < chosen.SectionCount(); ++i) {
    const String section = chosen.SectionName(i);
    std::vector<String> keys;
    chosen.ReadKeys(section, keys);
    for (const String& key : keys) Check(texts.ReadString(section, key, u"\x1") == chosen.ReadString(section, key));
  }
  if (!chosen.ValueExists(u"Common", u"QM")) Check(texts.ReadString(u"Common", u"QM") == u"Quit?");
  if (!chosen.ValueExists(u"PageWelcome", u"L1")) Check(texts.ReadString(u"PageWelcome", u"L1") == u"Welcome");
  return 0;
}
