#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include "HelperProcess.h"
#include "ResourcesFixture.h"
#include "TestLinks.h"
#include "TestSupport.h"
#include "core/ApplicationRepository.h"
#include "core/FolderSecurity.h"
#include "package/InstallerErrors.h"
#include "library/win/Handles.h"
#include "product/ProductInfoKIVO.h"

using namespace zel;
using namespace kivo;
using namespace kivo::test;

namespace {
std::string Settings(std::initializer_list<std::pair<const char*, const char*>> settings) {
  std::string xml = "<i><product><Settings>";
  for (const auto& [name, value] : settings) xml += std::string("<S name=\"") + name + "\" value=\"" + value + "\"/>";
  return xml + "</Settings></product></i>";
}
}  // namespace

TEST(ProductInfo, SlotsReadTheScriptSettings) {
  TTestProductInfo info;
  auto resources = Resources(&info, {{u"Install.xml", Settings({{"ProductName", "X"},
                                                                {"Publisher", "Pub"},
                                                                {"HomePage", "https://x.example/"},
                                                                {"ProductVersion", "5.10"},
                                                                {"BuildDate", "2023-01-01"},
                                                                {"ProductVersionId", "5100"},
                                                                {"ProductVersionNo", "5.10.0.0"}})}});
  EXPECT_EQ(info.GetName(), u"X");
  EXPECT_EQ(info.GetPublisher(), u"Pub");
  EXPECT_EQ(info.GetHomePage(), u"https://x.example/");
  EXPECT_EQ(info.GetVersion(), u"5.10");
  EXPECT_EQ(info.GetFullVersion(), u"5.10, 2023-01-01");
  EXPECT_EQ(info.ProductVersionId(), 5100);
  EXPECT_EQ(info.GetVersionNo(), u"5.10.0.0");
  EXPECT_EQ(info.GetDefaultPath(), resources->ProgramFilesFolder() + u"X\\");
  EXPECT_EQ(info.GetDefaultPath(), u"C:\\Program Files (x86)\\X\\");
  wchar_t desktop[MAX_PATH] = {};
  ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, SHGFP_TYPE_CURRENT, desktop), S_OK);
  EXPECT_EQ(info.GetDefaultPortablePath(), IncludeTrailingBackslash(from_wcstr(desktop)) + u"X\\");
  info.InstalledVersion = 5020;
  EXPECT_EQ(info.GetInstalledVersionText(), u"5.02");
}

TEST(ProductInfo, MissingSettingsReadEmptyAndAnEmptyNameFails) {
  struct Case {
    const char* versionId;
    int32_t id;
  };
  const Case cases[] = {{"abc", 0}, {"", 0}, {"12x", 0}, {"$10", 16}, {" 42", 42}, {"-7", -7}};
  for (const Case& c : cases) {
    TTestProductInfo info;
    auto resources = Resources(&info, {{u"Install.xml", Settings({{"ProductVersionId", c.versionId}})}});
    EXPECT_EQ(info.ProductVersionId(), c.id) << c.versionId;
  }
  TTestProductInfo info;
  auto resources = Resources(&info, {{u"Install.xml", Settings({{"ProductName", ""}})}});
  EXPECT_EQ(info.GetFullVersion(), u", ");
  EXPECT_EQ(info.GetPublisher(), u"");
  for (auto slot : {&TInstallerProductInfo::GetName, &TInstallerProductInfo::GetDefaultPath,
                    &TInstallerProductInfo::GetDefaultPortablePath}) {
    try {
      (info.*slot)();
      ADD_FAILURE() << "no error";
    } catch (const EInstallerGeneralError& e) {
      EXPECT_EQ(e.Message(), u"TInstallerProductInfo.GetName");
    }
  }
}

// The folder of a running player window ("TKIVOMainForm", any program may open one) is the
// default destination only when no ordinary user can change it.
TEST(ProductInfo, ARunningPlayersFolderIsTakenOnlyWhenUsersCannotChangeIt) {
  const String stubborn = HelperPath(u"uidriver\\stubborn_window.exe");
  if (!kivo::test::FileExists(stubborn)) GTEST_SKIP() << "no " << ToUtf8(stubborn);
  if (RunsUnderWine() && ::GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
    GTEST_SKIP() << "no X display for the player's window";
  for (const char16_t* name : {u"KIVO", u"KIVO3"}) TInstallerApplicationRepository::Unregister(name);
  const String scratch = ScratchDir(u"ProductInfo-player");
  const String folder = scratch + u"\\Player";
  ASSERT_TRUE(CreateProtectedFolder(folder));
  ASSERT_TRUE(::CopyFileW(as_wcstr(stubborn), as_wcstr(folder + u"\\KIVO.exe"), FALSE));
  const String release = scratch + u"\\release";
  THandle player = StartProcess(Quoted(folder + u"\\KIVO.exe") + u" TKIVOMainForm " + Quoted(release) + u" 60000");
  ASSERT_TRUE(player);
  for (int i = 0; i < 400 && !::FindWindowW(L"TKIVOMainForm", nullptr); ++i) ::Sleep(50);
  ASSERT_NE(::FindWindowW(L"TKIVOMainForm", nullptr), nullptr) << "the player's window did not appear";

  String found;
  EXPECT_TRUE(TProductInfoKIVO::FindInstallation(found));
  EXPECT_TRUE(SameText(found, folder + u"\\")) << ToUtf8(found);
  ASSERT_TRUE(SetFileDacl(folder, L"D:P(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;WD)"));
  found.clear();
  EXPECT_FALSE(TProductInfoKIVO::FindInstallation(found)) << ToUtf8(found);

  WriteAll(release, Bytes("go"));
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(player.Get(), 30000));
}
