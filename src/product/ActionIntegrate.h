#pragma once
// Runs the installed product's registration program, "Elevator.exe" in the destination,
// with the switches chosen on the integration page, and waits for it.
#include "core/InstallerAction.h"

namespace kivo {

class TInstallerActionIntegrate : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionIntegrate)
public:
  void Execute() override;
  // What the program registered is unregistered ("/REG=U"), as an uninstall does.
  void Rollback() noexcept override;
  void BuildSummary(TInstallerSummaryBuilder& builder) override;

  // The switches for the "Integration" options, each with its leading blank; empty when
  // every option is off. "/REG_UI" lets the program open the default-apps settings, which
  // only an interactive run on Windows 8 or later may do.
  static zel::String SwitchText(zel::TZELIniFile& options, bool autoMode, bool windows8OrLater);

private:
  bool FRan = false;
};

}  // namespace kivo
