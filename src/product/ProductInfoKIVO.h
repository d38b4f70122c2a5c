#pragma once
// What is particular to the KIVO player: its default folder, how an installation is
// found and read, and which actions and pages a run has.
#include <memory>
#include <vector>

#include "library/IniFile.h"
#include "package/win/ProductInfo.h"

namespace kivo {

class TProductInfoKIVO : public TInstallerProductInfo {
public:
  TProductInfoKIVO();

  zel::String GetDefaultPath() override;
  bool CanUpdate() override;
  bool IsPortable() override;
  int32_t GetInstalledVersion() override;
  void LoadInstalledConfig() override;
  void PopulateActions(const TActionReceiver& receiver) override;
  void PopulatePages(const TPageReceiver& receiver) override;

  // Registered folder of this product's names (ProductNames), else, for KIVO, the folder
  // of a running player.
  static bool FindInstallation(zel::String& folder);
  // The names this product's uninstall entries, shortcuts and start-menu folders have:
  // the script's product name, then with `legacy` "KIVO3", under which KIVO before 4.00
  // registered. A vendor's product never had that name, so it gets no legacy names.
  static std::vector<zel::String> ProductNames(bool legacy);
  // The script names this product KIVO (whose older versions had names of their own).
  static bool IsKIVO();
  // The script's product name, or empty when it has none.
  static zel::String ScriptName();
  // Add-ons are offered in wizard runs in Russian only, and only by a setup with "addons.ini".
  static bool AddonsAvailable();

  zel::TZELIniFile& InstalledConfig() { return *FInstalledConfig; }

private:
  std::unique_ptr<zel::TZELIniFile> FInstalledConfig;
};

// Makes TProductInfoKIVO the product of this program (ProductInfoClass).
void RegisterProductKIVO();

// The oldest and newest installed versions of KIVO this setup updates in place (a vendor's
// product updates every earlier version of itself).
constexpr int32_t kOldestUpdatableVersion = 3500;
constexpr int32_t kNewestUpdatableVersion = 5109;

}  // namespace kivo
