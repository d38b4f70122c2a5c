#pragma once
// Where the product keeps each account's profile (settings, playlists, databases), for
// the version being installed and for the installed one, and the list of profiles a run
// migrates, backs up or removes.
#include <memory>
#include <vector>

#include "library/Strings.h"

namespace zel {
class TZELUserAccountInfo;
}

namespace kivo {

class TInstallerProfileInfo {
public:
  zel::String UserName;        // the account's name; "SingleUser" for the portable profile
  zel::String ProfilePath;     // the profile folder of the version being installed
  zel::String OldProfilePath;  // the profile folder of the installed version
};

class TInstallerProfileInfoList {
public:
  void Add(std::unique_ptr<TInstallerProfileInfo> profile) { FItems.push_back(std::move(profile)); }
  size_t Count() const { return FItems.size(); }
  TInstallerProfileInfo& Items(size_t index) const { return *FItems[index]; }
  void Clear() { FItems.clear(); }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

private:
  std::vector<std::unique_ptr<TInstallerProfileInfo>> FItems;
};

class TInstallerProfileHelper {
public:
  TInstallerProfileHelper() = delete;

  // The account's application-data folder + the profile folder name of that version
  // ("KIVO3" before 4000, the product name from then on); without an account the
  // portable profile, destination + "Profile\".
  static zel::String GetProfilePath(const zel::TZELUserAccountInfo* account, int32_t version);
  static zel::String GetNewProfilePath(const zel::TZELUserAccountInfo* account);
  static zel::String GetOldProfilePath(const zel::TZELUserAccountInfo* account);
  // The profiles of this run whose folder of the installed version exists: the portable
  // one, or one per account in account order.
  static void PopulateProfiles(TInstallerProfileInfoList& list);
};

}  // namespace kivo
