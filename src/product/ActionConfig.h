#pragma once
// Writes the installed product's "KIVO.ini": how it was installed (per-user or portable),
// the language it starts with, the installed version and the integration choices.
#include "core/InstallerAction.h"

namespace kivo {

class TInstallerActionConfig : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionConfig)
public:
  void Execute() override;
};

}  // namespace kivo
