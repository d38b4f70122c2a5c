#pragma once
// The installation step that writes the product's files for the chosen language and
// then registers the uninstaller.
#include <vector>

#include "core/InstallerAction.h"

namespace kivo {

class TInstallerActionExtract : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionExtract)
public:
  void Execute() override;
  // The Components entries of the chosen language's family and those of every language.
  std::vector<const TInstallerScriptFile*> CollectFiles();
};

}  // namespace kivo
