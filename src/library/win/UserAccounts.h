#pragma once
// The machine's user accounts with their profile and roaming application-data folders:
// the account running the program first, then every account the system lists under
// "ProfileList", so that data of users other than the one running the setup is found.
#include <memory>
#include <vector>

#include "library/Strings.h"

namespace zel {

class TZELUserAccountInfo {
public:
  String UserName;
  String AppDataPath;  // with a trailing backslash
  String ProfilePath;  // with a trailing backslash

  // The same profile folder, as written (case-sensitive).
  bool Equals(const TZELUserAccountInfo& other) const { return ProfilePath == other.ProfilePath; }
};

// An owning list that never holds two accounts of the same profile folder: the first wins.
class TZELUserAccountInfoList {
public:
  // Takes the account; one that equals a listed account is dropped. True when added.
  bool Add(std::unique_ptr<TZELUserAccountInfo> account);
  size_t Count() const { return FItems.size(); }
  TZELUserAccountInfo& Items(size_t index) const { return *FItems[index]; }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

  // Why an account's "AppData" was not taken ("<user>: <folder>: <reason>"), for the log.
  std::vector<String> RefusedAppData;

private:
  std::vector<std::unique_ptr<TZELUserAccountInfo>> FItems;
};

class TZELUserAccounts {
public:
  TZELUserAccounts() = delete;

  // The key under HKEY_LOCAL_MACHINE that lists the accounts by security identifier.
  static constexpr const char16_t* ProfileListKey = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  // The key below an account's hive (or ".DEFAULT") that holds "AppData".
  static constexpr const char16_t* ShellFoldersKey =
      u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

  // Appends the current account, then the listed accounts. An account whose registry
  // entries cannot be read is skipped; a profile path whose variables cannot be
  // expanded raises the operating system's error. An "AppData" that is not safe to
  // write and delete in (a system or program folder, another account's profile, a path
  // through a link: UnsafeShellFolderReason) is not taken: the current account then has
  // none, another account is skipped; each refusal is noted in list.RefusedAppData.
  static void Populate(TZELUserAccountInfoList& list);
  // The "ProfileImagePath" of every listed account, variables expanded, whether or not
  // the folder exists; entries that cannot be read are left out.
  static std::vector<String> ListedProfilePaths();
};

}  // namespace zel
