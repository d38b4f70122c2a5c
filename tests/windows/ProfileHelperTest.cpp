// Where each account's profile of the installed and of the new version lies, and which
// profiles a run works on: the installer object of a test product, accounts from the
// prefix plus one the test lists in "ProfileList".
#include <windows.h>

#include <gtest/gtest.h>

#include "TestInstaller.h"
#include "TestSupport.h"
#include "library/win/FileSystem.h"
#include "library/win/UserAccounts.h"
#include "product/ProfileHelper.h"
#include "product/SetupHelper.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

const String kTestSid = u"S-1-5-21-77-77-78-3001";
const String kTestKey = String(zel::TZELUserAccounts::ProfileListKey) + u"\\" + kTestSid;

// One account in "ProfileList" (hive not loaded: its folders come from ".DEFAULT").
class TListedAccount {
public:
  explicit TListedAccount(const String& profile) {
    HKEY key = nullptr;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, zel::as_wcstr(kTestKey), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr);
    ::RegSetValueExW(key, L"ProfileImagePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(profile.c_str()),
                     static_cast<DWORD>((profile.size() + 1) * 2));
    ::RegCloseKey(key);
  }
  ~TListedAccount() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, zel::as_wcstr(kTestKey)); }
};

String CurrentAppData() {
  zel::TZELUserAccountInfoList accounts;
  zel::TZELUserAccounts::Populate(accounts);
  return accounts.Items(0).AppDataPath;
}

// The AppData folder that Populate gives an account of the ".DEFAULT" template.
String ListedAppData(const String& profile) {
  zel::TZELUserAccountInfoList accounts;
  zel::TZELUserAccounts::Populate(accounts);
  for (const auto& account : accounts)
    if (account->ProfilePath == profile + u"\\") return account->AppDataPath;
  return {};
}

}  // namespace

TEST(ProfileHelper, PathsByVersionAndMode) {
  zel::TZELUserAccountInfo account;
  account.AppDataPath = u"C:\\users\\alice\\AppData\\Roaming\\";
  // "KIVO3" is the folder of KIVO's own old versions only: a vendor's product at 1.20
  // keeps its profile under its own name.
  const struct {
    const char* product;
    int32_t version;
    const char16_t* folder;
  } cases[] = {{"KIVO", 0, u"KIVO3"},
               {"KIVO", 3600, u"KIVO3"},
               {"KIVO", 3999, u"KIVO3"},
               {"KIVO", 4000, u"KIVO"},
               {"KIVO", 5100, u"KIVO"},
               {"Acme Tools", 0, u"Acme Tools"},
               {"Acme Tools", 1200, u"Acme Tools"},
               {"Acme Tools", 5100, u"Acme Tools"}};
  for (const auto& c : cases) {
    TTestInstallerEnvironment environment(DefaultSetupMembers(c.product));
    TInstaller installer(u"/AUTO=" + ScratchDir(u"ProfileHelper-paths") + u" /SILENT");
    EXPECT_EQ(TInstallerProfileHelper::GetProfilePath(&account, c.version), account.AppDataPath + c.folder + u"\\")
        << c.product << " " << c.version;
  }
  TTestInstallerEnvironment environment;
  TestProduct.CanUpdate = true;
  TestProduct.InstalledVersion = 3800;
  const String dest = ScratchDir(u"ProfileHelper-paths");
  TInstaller installer(u"/AUTO=" + dest + u" /SILENT");
  EXPECT_EQ(TInstallerProfileHelper::GetProfilePath(nullptr, 3600), installer.DestPath() + u"Profile\\");
  EXPECT_EQ(TInstallerProfileHelper::GetOldProfilePath(&account), account.AppDataPath + u"KIVO3\\");
  EXPECT_EQ(TInstallerProfileHelper::GetNewProfilePath(&account), account.AppDataPath + u"KIVO\\");
}

TEST(ProfileHelper, PopulateProfilesListsOnlyExistingOldFolders) {
  const String base = ScratchDir(u"ProfileHelper-accounts");
  const String alice = base + u"\\alice", bob = base + u"\\bob";
  ASSERT_TRUE(::CreateDirectoryW(zel::as_wcstr(alice), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(zel::as_wcstr(bob), nullptr));
  TListedAccount listedAlice(alice);
  const String aliceAppData = ListedAppData(alice), ownAppData = CurrentAppData();
  ASSERT_FALSE(aliceAppData.empty());

  const struct {
    const char* what;
    int32_t installed;
    bool portable;
    std::vector<String> folders;                // old profile folders made before the run
    std::vector<std::vector<String>> expected;  // user, new, old
  } cases[] = {
      {"3.80: both KIVO3 folders, own account first",
       3800,
       false,
       {ownAppData + u"KIVO3\\", aliceAppData + u"KIVO3\\"},
       {{u"", ownAppData + u"KIVO\\", ownAppData + u"KIVO3\\"},
        {u"alice", aliceAppData + u"KIVO\\", aliceAppData + u"KIVO3\\"}}},
      {"4.60: only alice has one",
       4600,
       false,
       {aliceAppData + u"KIVO\\", ownAppData + u"KIVO3\\"},
       {{u"alice", aliceAppData + u"KIVO\\", aliceAppData + u"KIVO\\"}}},
      {"portable without a Profile folder", 4600, true, {aliceAppData + u"KIVO\\"}, {}},
      {"portable with one",
       4600,
       true,
       {u"<dest>Profile\\"},
       {{u"SingleUser", u"<dest>Profile\\", u"<dest>Profile\\"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TTestInstallerEnvironment environment;
    TestProduct.CanUpdate = true;
    TestProduct.Portable = c.portable;
    TestProduct.InstalledVersion = c.installed;
    const String dest = ScratchDir(u"ProfileHelper-dest");
    TInstaller installer(u"/AUTO=" + dest + u" /SILENT");
    const auto resolve = [&](const String& text) { return zel::ReplaceAll(text, u"<dest>", installer.DestPath()); };
    std::vector<String> made;
    for (const String& folder : c.folders) {
      ASSERT_TRUE(TSetupHelper::ForceFolder(resolve(folder)));
      made.push_back(resolve(folder));
    }
    TInstallerProfileInfoList list;
    TInstallerProfileHelper::PopulateProfiles(list);
    std::vector<std::vector<String>> seen;
    for (const auto& p : list) seen.push_back({p->UserName, p->ProfilePath, p->OldProfilePath});
    std::vector<std::vector<String>> expected;
    for (const auto& e : c.expected) expected.push_back({resolve(e[0]), resolve(e[1]), resolve(e[2])});
    // The own account's name is whatever the prefix calls it.
    if (!expected.empty() && expected[0][0].empty() && !seen.empty()) expected[0][0] = seen[0][0];
    // Accounts of the machine other than these two do not matter here.
    std::vector<std::vector<String>> ours;
    for (const auto& s : seen)
      if (zel::StartsWithText(s[2], ownAppData) || zel::StartsWithText(s[2], aliceAppData) ||
          zel::StartsWithText(s[2], installer.DestPath()))
        ours.push_back(s);
    EXPECT_EQ(ours, expected);
    for (const String& folder : made) TSetupHelper::DeleteFolder(folder, false);
  }
}
