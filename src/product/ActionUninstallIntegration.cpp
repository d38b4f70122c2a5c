#include "product/ActionUninstallIntegration.h"

#include "product/UpdateTasks.h"

namespace kivo {

TInstallerActionUninstallIntegration::TInstallerActionUninstallIntegration() {
  FTasks.push_back(std::make_unique<TInstallerUpdateTaskRemoveShortcuts>());
  FTasks.push_back(std::make_unique<TInstallerUpdateTaskRemoveShellMenu>());
  FTasks.push_back(std::make_unique<TInstallerUpdateTaskRemoveFromRegistry>());
}

TInstallerActionUninstallIntegration::~TInstallerActionUninstallIntegration() = default;

void TInstallerActionUninstallIntegration::Execute() {
  SetStatus(GetCommonText(u"A9"));
  const size_t count = FTasks.size();
  for (size_t i = 0; i < count; ++i) {
    // Nothing is cleaned up later in an uninstall: the tasks delete at once.
    FTasks[i]->Execute(nullptr);
    SetProgress(static_cast<int>(((i + 1) * 200 + count) / (2 * count)));  // to the nearest: 33, 67, 100
  }
}

}  // namespace kivo
