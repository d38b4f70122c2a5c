#pragma once
// Tells the shell that file associations changed, so Explorer shows the new icons and
// "open with" entries without a restart.
#include "core/InstallerAction.h"

namespace kivo {

class TInstallerActionUpdateShellCache : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionUpdateShellCache)
public:
  void Execute() override;

  // How long the shell is given after the notification.
  unsigned WaitMs = 1000;
};

}  // namespace kivo
