#include "package/win/ActionExtract.h"

#include "core/Installer.h"
#include "core/InstallerScript.h"

namespace kivo {

std::vector<const TInstallerScriptFile*> TInstallerActionExtract::CollectFiles() {
  const zel::String family = Resources().GetLanguageFamily();
  const TInstallerScriptGroup& components = Script().Components;
  std::vector<const TInstallerScriptFile*> files;
  files.reserve(512);
  for (size_t i = 0; i < components.Count(); ++i)
    if (MatchesLangFamily(components.Items(i), family)) files.push_back(&components.Items(i));
  return files;
}

void TInstallerActionExtract::Execute() {
  SetStatus(GetCommonText(u"A4"));
  const std::vector<const TInstallerScriptFile*> files = CollectFiles();
  const size_t count = files.size();
  for (size_t i = 0; i < count; ++i) {
    SetProgress(static_cast<int>((i + 1) * 100 / count));
    ExtractFile(*files[i]);
  }
  SetStatus(GetCommonText(u"A7"));
  RegisterUninstall(Installer->DestPath(), files);
}

}  // namespace kivo
