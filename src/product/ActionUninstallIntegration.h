#pragma once
// Undoes the product's integration with Windows once its files are gone: the shortcuts,
// the shell menu libraries and the registration program's entries (both kept by the files
// step for this). The uninstall entry goes after it (TInstallerActionUninstallEntry).
#include <memory>
#include <vector>

#include "core/InstallerAction.h"

namespace kivo {

class TInstallerUpdateTask;

class TInstallerActionUninstallIntegration : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionUninstallIntegration)
public:
  TInstallerActionUninstallIntegration();
  ~TInstallerActionUninstallIntegration() override;
  void Execute() override;

  size_t TaskCount() const { return FTasks.size(); }
  TInstallerUpdateTask& Tasks(size_t index) const { return *FTasks[index]; }

private:
  std::vector<std::unique_ptr<TInstallerUpdateTask>> FTasks;
};

}  // namespace kivo
