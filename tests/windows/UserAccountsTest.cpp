// The machine's accounts, from a "ProfileList" laid out by the test next to the entries
// the prefix already has: identifiers of their own, removed again at the end.
#include <windows.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/UserAccounts.h"

using namespace zel;
using kivo::test::ScratchDir;

namespace {

const String kProfileList = String(TZELUserAccounts::ProfileListKey) + u"\\";
const String kShellFolders = String(TZELUserAccounts::ShellFoldersKey);

void SetValue(HKEY root, const String& path, const wchar_t* name, DWORD type, const String& text, REGSAM view = 0) {
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(root, as_wcstr(path), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
            ERROR_SUCCESS)
      << ToUtf8(path);
  THandleKey owner(key);
  if (type == REG_DWORD) {
    const DWORD number = 1;
    ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
  } else {
    ::RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * 2));
  }
}

// Removes what the test added, also after an earlier run stopped half-way.
struct TRegistryCleaner {
  std::vector<std::pair<HKEY, String>> Keys;
  ~TRegistryCleaner() {
    for (const auto& [root, path] : Keys) ::RegDeleteTreeW(root, as_wcstr(path));
  }
};

}  // namespace

TEST(UserAccounts, CurrentAccountFirstThenProfileListWithDefaultFallback) {
  const String base = ScratchDir(u"UserAccounts");
  const String alice = base + u"\\alice", bob = base + u"\\bob", carol = base + u"\\carol";
  const String dave = base + u"\\dave", erin = base + u"\\erin";
  for (const String& dir : {alice, bob, carol, dave, erin}) ASSERT_TRUE(::CreateDirectoryW(as_wcstr(dir), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(as_wcstr(alice + u"\\Roam"), nullptr));

  const String sidAlice = u"S-1-5-21-77-77-77-2001", sidBob = u"S-1-5-21-77-77-77-2002";
  const String sidNever = u"S-1-5-21-77-77-77-2003", sidDword = u"S-1-5-21-77-77-77-2004";
  const String sidBackup = u"S-1-5-21-77-77-77-2001.bak";
  // Their own settings point dave's AppData at the Windows folder and erin's into alice's
  // profile: the elevated setup would write and delete there.
  const String sidDave = u"S-1-5-21-77-77-77-2005", sidErin = u"S-1-5-21-77-77-77-2006";
  TRegistryCleaner cleaner;
  for (const String& sid : {sidAlice, sidBob, sidNever, sidDword, sidBackup, sidDave, sidErin})
    cleaner.Keys.push_back({HKEY_LOCAL_MACHINE, kProfileList + sid});
  for (const String& sid : {sidAlice, sidDave, sidErin}) cleaner.Keys.push_back({HKEY_USERS, sid});

  // Alice is logged on (her hive is loaded); bob's path needs expanding and his hive is
  // not loaded; "never" has no folder; the ".bak" entry names a folder that exists.
  SetValue(HKEY_LOCAL_MACHINE, kProfileList + sidAlice, L"ProfileImagePath", REG_SZ, alice);
  SetValue(HKEY_USERS, sidAlice + u"\\" + kShellFolders, L"AppData", REG_EXPAND_SZ, u"%UserProfile%\\Roam\\x%TEMP%");
  ::SetEnvironmentVariableW(L"KIVO_TEST_BASE", as_wcstr(base));
  SetValue(HKEY_LOCAL_MACHINE, kProfileList + sidBob, L"ProfileImagePath", REG_EXPAND_SZ, u"%KIVO_TEST_BASE%\\bob");
  SetValue(HKEY_LOCAL_MACHINE, kProfileList + sidNever, L"ProfileImagePath", REG_SZ, base + u"\\never");
  SetValue(HKEY_LOCAL_MACHINE, kProfileList + sidDword, L"ProfileImagePath", REG_DWORD, {});
  SetValue(HKEY_LOCAL_MACHINE, kProfileList + sidBackup, L"ProfileImagePath", REG_SZ, carol);
  wchar_t windows[MAX_PATH];
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  SetValue(HKEY_LOCAL_MACHINE, kProfileList + sidDave, L"ProfileImagePath", REG_SZ, dave);
  SetValue(HKEY_USERS, sidDave + u"\\" + kShellFolders, L"AppData", REG_SZ, from_wcstr(windows));
  SetValue(HKEY_LOCAL_MACHINE, kProfileList + sidErin, L"ProfileImagePath", REG_SZ, erin);
  SetValue(HKEY_USERS, sidErin + u"\\" + kShellFolders, L"AppData", REG_SZ, alice + u"\\Roam");

  String defaultAppData;
  {
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_USERS, as_wcstr(u".DEFAULT\\" + kShellFolders), 0, KEY_READ, &key), ERROR_SUCCESS);
    THandleKey owner(key);
    wchar_t value[1024];
    DWORD size = sizeof(value);
    ASSERT_EQ(::RegQueryValueExW(key, L"AppData", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
              ERROR_SUCCESS);
    defaultAppData = from_wcstr(value);
  }
  ASSERT_TRUE(StartsWithText(defaultAppData, u"%USERPROFILE%")) << ToUtf8(defaultAppData);

  TZELUserAccountInfoList list;
  TZELUserAccounts::Populate(list);
  ASSERT_GE(list.Count(), 3u);

  // The account running the program comes first, once (the prefix lists it as well).
  wchar_t user[129];
  DWORD size = 129;
  ASSERT_TRUE(::GetUserNameW(user, &size));
  EXPECT_EQ(list.Items(0).UserName, from_wcstr(user));
  EXPECT_TRUE(DirectoryExists(list.Items(0).AppDataPath));
  EXPECT_EQ(list.Items(0).ProfilePath.back(), u'\\');
  for (size_t i = 1; i < list.Count(); ++i) EXPECT_NE(list.Items(i).ProfilePath, list.Items(0).ProfilePath);

  std::vector<std::vector<String>> ours;
  for (const auto& account : list)
    if (StartsWithText(account->ProfilePath, base))
      ours.push_back({account->UserName, account->AppDataPath, account->ProfilePath});
  const std::vector<std::vector<String>> expected = {
      // Only "%USERPROFILE%" is replaced, in any letter case; other variables stay.
      {u"alice", alice + u"\\Roam\\x%TEMP%\\", alice + u"\\"},
      {u"bob", bob + defaultAppData.substr(13) + u"\\", bob + u"\\"},
  };
  EXPECT_EQ(ours, expected);
  std::vector<String> refused;
  for (const String& entry : list.RefusedAppData)
    if (StartsWith(entry, u"dave: ") || StartsWith(entry, u"erin: ")) refused.push_back(entry);
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(refused[0], u"dave: " + from_wcstr(windows) + u": it is a folder of Windows");
  EXPECT_EQ(refused[1], u"erin: " + alice + u"\\Roam: it lies in the profile of another account (\"" + alice + u"\")");
}

TEST(UserAccounts, ListKeepsTheFirstOfOneProfileFolder) {
  TZELUserAccountInfoList list;
  const struct {
    const char16_t* name;
    const char16_t* profile;
    bool added;
  } cases[] = {{u"a", u"C:\\users\\a\\", true},
               {u"b", u"C:\\users\\b\\", true},
               {u"a2", u"C:\\users\\a\\", false},
               {u"A", u"C:\\USERS\\A\\", true}};
  for (const auto& c : cases) {
    auto account = std::make_unique<TZELUserAccountInfo>();
    account->UserName = c.name;
    account->ProfilePath = c.profile;
    EXPECT_EQ(list.Add(std::move(account)), c.added) << ToUtf8(c.name);
  }
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Items(0).UserName, u"a");
}
