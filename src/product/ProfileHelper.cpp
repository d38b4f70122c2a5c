#include "product/ProfileHelper.h"

#include "core/Installer.h"
#include "core/RunLog.h"
#include "library/win/FileSystem.h"
#include "library/win/UserAccounts.h"
#include "product/ProductInfoKIVO.h"

namespace kivo {

using zel::String;

namespace {

// Version 4.00 moved the profile from "KIVO3" to a folder named after the product.
constexpr int32_t kFirstProductNamedProfile = 4000;

}  // namespace

String TInstallerProfileHelper::GetProfilePath(const zel::TZELUserAccountInfo* account, int32_t version) {
  if (!account) return Installer->DestPath() + u"Profile\\";
  // "KIVO3" is only ever the folder of KIVO's own old versions.
  const bool legacy = version < kFirstProductNamedProfile && TProductInfoKIVO::IsKIVO();
  const String name = legacy ? String(u"KIVO3") : Installer->ProductInfo().GetName();
  return account->AppDataPath + name + u"\\";
}

String TInstallerProfileHelper::GetNewProfilePath(const zel::TZELUserAccountInfo* account) {
  return GetProfilePath(account, Installer->ProductInfo().ProductVersionId());
}

String TInstallerProfileHelper::GetOldProfilePath(const zel::TZELUserAccountInfo* account) {
  return GetProfilePath(account, Installer->ProductInfo().GetInstalledVersion());
}

void TInstallerProfileHelper::PopulateProfiles(TInstallerProfileInfoList& list) {
  const auto add = [&list](const String& userName, const zel::TZELUserAccountInfo* account) {
    auto profile = std::make_unique<TInstallerProfileInfo>();
    profile->UserName = userName;
    profile->ProfilePath = GetNewProfilePath(account);
    profile->OldProfilePath = GetOldProfilePath(account);
    if (zel::DirectoryExists(profile->OldProfilePath)) list.Add(std::move(profile));
  };
  if (Installer->HasFlag(TInstallerFlag::Portable)) {
    add(u"SingleUser", nullptr);
    return;
  }
  zel::TZELUserAccountInfoList accounts;
  zel::TZELUserAccounts::Populate(accounts);
  for (const String& refused : accounts.RefusedAppData) RunLog().Log(u"Application data folder not used: " + refused);
  for (const auto& account : accounts) add(account->UserName, account.get());
}

}  // namespace kivo
