#include "product/ProductInfoKIVO.h"

#include <windows.h>

#include "core/ApplicationRepository.h"
#include "core/FolderSecurity.h"
#include "core/Installer.h"
#include "package/InstallerErrors.h"
#include "core/RunLog.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "core/ActionExtract.h"
#include "product/ActionAddonsInstall.h"
#include "product/ActionCloseApplications.h"
#include "product/ActionConfig.h"
#include "product/ActionIntegrate.h"
#include "product/ActionPrepare.h"
#include "product/ActionShortcuts.h"
#include "product/ActionUninstallFiles.h"
#include "product/ActionUninstallIntegration.h"
#include "product/ActionUpdateShellCache.h"
#include "product/ProductPages.h"
#include "library/win/WindowsVersion.h"
#include "ui/InstallerPages.h"

namespace kivo {

using zel::String;

namespace {

// The folder of the executable behind a running player window, or empty.
String RunningPlayerFolder() {
  HWND window = ::FindWindowW(L"TKIVOMainForm", nullptr);
  if (!window) return {};
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  zel::THandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (!process) return {};
  wchar_t path[MAX_PATH * 4];
  DWORD size = MAX_PATH * 4;
  if (!::QueryFullProcessImageNameW(process.Get(), 0, path, &size)) return {};
  const String folder = zel::ExtractFilePath(zel::from_wcstr(path, size));
  // Any program of the user may open such a window: a folder users can change is no
  // installation to update unasked.
  const String writer = NonAdminWriter(folder);
  if (!writer.empty()) {
    RunLog().Log(u"Running player's folder not taken as the destination, " + writer + u" can change it: " + folder);
    return {};
  }
  return folder;
}

}  // namespace

void RegisterProductKIVO() {
  ProductInfoClass = []() -> std::unique_ptr<TInstallerProductInfo> { return std::make_unique<TProductInfoKIVO>(); };
}

TProductInfoKIVO::TProductInfoKIVO() : FInstalledConfig(std::make_unique<zel::TZELIniFile>()) {}

String TProductInfoKIVO::GetDefaultPath() {
  String folder;
  if (FindInstallation(folder)) return folder;
  return TInstallerProductInfo::GetDefaultPath();
}

bool TProductInfoKIVO::FindInstallation(String& folder) {
  for (const String& name : ProductNames(true))
    if (TInstallerApplicationRepository::GetInstallPath(name, folder)) return true;
  // The player's window class is KIVO's: another product is not found through it.
  folder = IsKIVO() ? RunningPlayerFolder() : String();
  return !folder.empty();
}

bool TProductInfoKIVO::IsKIVO() { return zel::SameText(ScriptName(), u"KIVO"); }

std::vector<String> TProductInfoKIVO::ProductNames(bool legacy) {
  std::vector<String> names;
  if (const String name = ScriptName(); !name.empty()) names.push_back(name);
  if (legacy && IsKIVO()) names.push_back(u"KIVO3");
  return names;
}

String TProductInfoKIVO::ScriptName() {
  // No installer object yet (a lookup before any script is read): the product this
  // definition is written for.
  if (!Installer) return u"KIVO";
  try {
    return Installer->ProductInfo().GetName();
  } catch (const EInstallerGeneralError&) {
    return {};  // a script without a name has nothing registered under one
  }
}

bool TProductInfoKIVO::AddonsAvailable() {
  // A vendor's setup without "addons.ini" has no add-ons to offer.
  TInstallerResources& resources = Installer->Resources();
  return !Installer->HasFlag(TInstallerFlag::Auto) && !Installer->HasFlag(TInstallerFlag::Silent) &&
         zel::SameText(resources.Language(), u"Russian") &&
         (resources.ProductPackage().ContainsFile(u"addons.ini") ||
          resources.SetupPackage().ContainsFile(u"addons.ini"));
}

void TProductInfoKIVO::LoadInstalledConfig() {
  const String dest = Installer->DestPath();
  String path;
  if (!dest.empty() && zel::FileExists(dest + u"KIVO.ini")) path = dest + u"KIVO.ini";
  else if (!dest.empty() && zel::FileExists(dest + u"KIVO3.ini") && IsKIVO()) path = dest + u"KIVO3.ini";
  FInstalledConfig->Clear();
  if (!path.empty()) FInstalledConfig->LoadFromFile(path);
  Installer->Options().WriteSectionText(u"Integration", FInstalledConfig->ReadSectionText(u"Integration"));
}

bool TProductInfoKIVO::IsPortable() { return !FInstalledConfig->ReadBool(u"System", u"UserMode", true); }

int32_t TProductInfoKIVO::GetInstalledVersion() { return FInstalledConfig->ReadInteger(u"System", u"Version", 0); }

bool TProductInfoKIVO::CanUpdate() {
  const int32_t version = GetInstalledVersion();
  if (IsKIVO()) return version >= kOldestUpdatableVersion && version <= kNewestUpdatableVersion;
  // A vendor's product has no history of layouts: every earlier version of it, up to this
  // version's own minor series, is updated in place.
  return version > 0 && version <= ProductVersionId() / 10 * 10 + 9;
}

void TProductInfoKIVO::PopulateActions(const TActionReceiver& receiver) {
  receiver(ActionClassOf<TInstallerActionCloseApplications>());
  if (Installer->Mode() == TInstallerMode::Uninstall) {
    // The entry last: a run stopped half-way leaves the product listed, to be run again.
    receiver(ActionClassOf<TInstallerActionUninstallFiles>());
    receiver(ActionClassOf<TInstallerActionUninstallIntegration>());
    receiver(ActionClassOf<TInstallerActionUninstallEntry>());
    return;
  }
  receiver(ActionClassOf<TInstallerActionPrepare>());
  if (AddonsAvailable()) receiver(ActionClassOf<TInstallerActionAddonsInstall>());
  receiver(ActionClassOf<TInstallerActionExtract>());
  receiver(ActionClassOf<TInstallerActionConfig>());
  // An update keeps the integration and the shortcuts the user has.
  if (!Installer->HasFlag(TInstallerFlag::Update)) {
    if (!Installer->HasFlag(TInstallerFlag::Portable)) receiver(ActionClassOf<TInstallerActionIntegrate>());
    receiver(ActionClassOf<TInstallerActionShortcuts>());
  }
  if (zel::WindowsVersion().IsWindows10OrLater()) receiver(ActionClassOf<TInstallerActionUpdateShellCache>());
}

void TProductInfoKIVO::PopulatePages(const TPageReceiver& receiver) {
  // The window leaves these out of an automatic run and adds its progress and finish pages.
  if (Installer->Mode() == TInstallerMode::Uninstall) {
    receiver(PageClassOf<TInstallerPageUninstallParams>());
    return;
  }
  receiver(PageClassOf<TInstallerPageWelcome>());
  receiver(PageClassOf<TInstallerPageLicense>());
  receiver(PageClassOf<TInstallerPageSetup>());
  if (AddonsAvailable()) receiver(PageClassOf<TInstallerPageAddons>());
  receiver(PageClassOf<TInstallerPageIntegration>());
  receiver(PageClassOf<TInstallerPageReadyToInstall>());
}

}  // namespace kivo
