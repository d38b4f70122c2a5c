#pragma once
// What is particular to the KIVO player: its default folder, how an installation is
// found and read, and which actions and pages a run has.
#include <memory>

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

  // Registered folder of "KIVO" (else "KIVO3"), else the folder of a running player.
  static bool FindInstallation(zel::String& folder);
  // Add-ons are offered in wizard runs in Russian only.
  static bool AddonsAvailable();

  zel::TZELIniFile& InstalledConfig() { return *FInstalledConfig; }

private:
  std::unique_ptr<zel::TZELIniFile> FInstalledConfig;
};

// Makes TProductInfoKIVO the product of this program (ProductInfoClass).
void RegisterProductKIVO();

// The oldest and newest installed versions this setup updates in place.
constexpr int32_t kOldestUpdatableVersion = 3500;
constexpr int32_t kNewestUpdatableVersion = 5109;

}  // namespace kivo
