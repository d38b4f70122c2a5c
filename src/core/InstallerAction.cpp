#include "core/InstallerAction.h"

#include "core/Installer.h"
#include "core/UninstallRegistration.h"
#include "core/ExtractHelper.h"

namespace kivo {

using zel::String;
using zel::StringView;

TInstallerProductInfo& TInstallerPersistent::ProductInfo() const { return Installer->ProductInfo(); }
TInstallerResources& TInstallerPersistent::Resources() const { return Installer->Resources(); }
zel::TZELIniFile& TInstallerPersistent::Options() const { return Installer->Options(); }
TInstallerScript& TInstallerPersistent::Script() const { return Installer->Resources().Script(); }

String TInstallerPersistent::GetText(StringView section, StringView key) const {
  return Installer->Resources().GetText(section, key);
}

String TInstallerPersistent::GetCommonText(StringView key) const { return GetText(u"Common", key); }

void TInstallerAction::Perform() {
  Execute();
  SetProgress(100);
}

void TInstallerAction::SetProgress(int value) {
  if (value == FProgress) return;
  FProgress = value;
  if (FOnProgress) FOnProgress(*this);
}

void TInstallerAction::SetStatus(StringView text) { Installer->NotifyText(NotifyStatus, text); }

void TInstallerAction::ExtractFile(const TInstallerScriptFile& entry) { Installer->ExtractHelper().ExtractFile(entry); }

void TInstallerAction::ForceFolder(StringView path) { Installer->ExtractHelper().ForceFolder(path); }

void TInstallerAction::RegisterUninstall(StringView destPath, const std::vector<const TInstallerScriptFile*>& files) {
  kivo::RegisterUninstall(destPath, files);
}

int TInstallerActionList::GetProgress() const {
  if (FItems.empty()) return 0;
  long long sum = 0;
  for (const auto& action : FItems) sum += action->Progress();
  return static_cast<int>(sum / static_cast<long long>(FItems.size()));
}

}  // namespace kivo
