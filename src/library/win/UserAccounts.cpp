#include "library/win/UserAccounts.h"

#include <windows.h>
#include <shlobj.h>

#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/KnownFolders.h"
#include "library/win/OSError.h"
#include "library/win/Registry.h"

namespace zel {

namespace {

// "ProfileList" is shared by both registry views; the 32-bit view is named to read it
// exactly as the 32-bit setup always did.
constexpr REGSAM kView = KEY_WOW64_32KEY;

String ExpandEnvironment(const String& text) {
  String expanded(65535, u'\0');
  const DWORD n = ::ExpandEnvironmentStringsW(as_wcstr(text), as_wcstr(expanded), 65535);
  if (n == 0 || n > 65535)
    RaiseOSError(n == 0 ? ::GetLastError() : ERROR_INSUFFICIENT_BUFFER, u"ExpandEnvironmentStrings \"" + text + u"\"");
  expanded.resize(n - 1);
  return expanded;
}

// Every "%USERPROFILE%", in any letter case, becomes the profile folder; nothing else.
String ReplaceUserProfile(const String& text, const String& profile) {
  static constexpr StringView kVariable = u"%USERPROFILE%";
  String result;
  size_t i = 0;
  while (i < text.size()) {
    if (text.size() - i >= kVariable.size() && SameText(StringView(text).substr(i, kVariable.size()), kVariable)) {
      result += profile;
      i += kVariable.size();
    } else {
      result += text[i++];
    }
  }
  return result;
}

THandleKey OpenKey(HKEY root, const String& path, REGSAM view = 0) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, as_wcstr(path), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return THandleKey();
  return THandleKey(key);
}

// True when the account's AppData may be used; else the refusal is noted. A folder that
// does not exist yet holds nothing to protect and is taken.
bool UsableAppData(TZELUserAccountInfoList& list, const String& user, const String& appData, const String& profile) {
  if (appData.empty()) return true;
  const String reason = UnsafeShellFolderReason(appData, CSIDL_APPDATA, profile);
  if (reason.empty() || reason == kShellFolderMissing) return true;
  list.RefusedAppData.push_back(user + u": " + appData + u": " + reason);
  return false;
}

// The accounts that the machine lists ("ProfileList"), with their profile folders,
// variables expanded. An entry without a folder, or with one that cannot be expanded,
// names no folder anyone could be given and is left out.
struct TListedProfile {
  String Identifier;  // the account's SID, as the key is named
  String Path;
};

std::vector<TListedProfile> ListedProfiles() {
  std::vector<TListedProfile> listed;
  THandleKey profiles = OpenKey(HKEY_LOCAL_MACHINE, String(TZELUserAccounts::ProfileListKey), kView);
  if (!profiles) return listed;
  for (DWORD index = 0;; ++index) {
    wchar_t sid[261];
    DWORD sidSize = 261;
    const LONG result = ::RegEnumKeyExW(profiles.Get(), index, sid, &sidSize, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) continue;
    TListedProfile profile{from_wcstr(sid, sidSize), {}};
    THandleKey entry = OpenKey(profiles.Get(), profile.Identifier);
    if (!entry) continue;
    const String path = ReadRegistryString(entry.Get(), L"ProfileImagePath");
    if (path.empty()) continue;
    try {
      profile.Path = ExpandEnvironment(path);
    } catch (const Exception&) {
      continue;
    }
    listed.push_back(std::move(profile));
  }
  return listed;
}

}  // namespace

bool TZELUserAccountInfoList::Add(std::unique_ptr<TZELUserAccountInfo> account) {
  for (const auto& item : FItems)
    if (item->Equals(*account)) return false;
  FItems.push_back(std::move(account));
  return true;
}

void TZELUserAccounts::Populate(TZELUserAccountInfoList& list) {
  auto current = std::make_unique<TZELUserAccountInfo>();
  wchar_t name[129];
  DWORD size = 129;
  if (::GetUserNameW(name, &size)) current->UserName = from_wcstr(name);
  const String appData = ExcludeTrailingBackslash(SpecialFolder(CSIDL_APPDATA));
  const String profile = ExcludeTrailingBackslash(SpecialFolder(CSIDL_PROFILE));
  current->AppDataPath = appData.empty() || !UsableAppData(list, current->UserName, appData, profile)
                             ? String()
                             : IncludeTrailingBackslash(appData);
  current->ProfilePath = profile.empty() ? String() : IncludeTrailingBackslash(profile);
  list.Add(std::move(current));

  const String shellFolders = u"\\" + String(ShellFoldersKey);
  for (const TListedProfile& listed : ListedProfiles()) {
    const String& identifier = listed.Identifier;
    // Backup entries of damaged profiles.
    if (SameText(ExtractFileExt(identifier), u".bak")) continue;
    const String& profilePath = listed.Path;
    if (!DirectoryExists(profilePath)) continue;  // never logged on

    // A hive that is not loaded (the account is not logged on) has no key of its own:
    // the template of new accounts tells where its folder is.
    THandleKey folders = OpenKey(HKEY_USERS, identifier + shellFolders);
    if (!folders) folders = OpenKey(HKEY_USERS, u".DEFAULT" + shellFolders);
    if (!folders) continue;
    const String accountAppData = ReplaceUserProfile(ReadRegistryString(folders.Get(), L"AppData"), profilePath);
    folders.Reset();
    if (accountAppData.empty()) continue;
    const String userName = ExtractFileName(ExcludeTrailingBackslash(profilePath));
    if (!UsableAppData(list, userName, accountAppData, profilePath)) continue;

    auto account = std::make_unique<TZELUserAccountInfo>();
    account->UserName = userName;
    account->AppDataPath = IncludeTrailingBackslash(accountAppData);
    account->ProfilePath = IncludeTrailingBackslash(profilePath);
    list.Add(std::move(account));
  }
}

std::vector<String> TZELUserAccounts::ListedProfilePaths() {
  std::vector<String> paths;
  for (TListedProfile& listed : ListedProfiles()) paths.push_back(std::move(listed.Path));
  return paths;
}

}  // namespace zel
