// The product's KIVO.ini: written by the configuration action after the files, read by
// TProductInfoKIVO to learn what is installed.
#include <gtest/gtest.h>

#include "HelperProcess.h"
#include "TestInstaller.h"
#include "TestSupport.h"
#include "core/ApplicationRepository.h"
#include "core/InstallerThread.h"
#include "product/ActionConfig.h"
#include "product/ProductInfoKIVO.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

std::vector<String> SectionLines(zel::TZELIniFile& ini, const char16_t* name) {
  std::vector<String> lines;
  if (zel::TZELIniFileSection* section = ini.FindSection(name))
    for (size_t i = 0; i < section->Count(); ++i) lines.push_back(section->Line(i));
  return lines;
}

// Runs the configuration action on the worker for dest; params after the destination.
void RunConfig(const String& dest, const String& params, const std::vector<std::pair<String, String>>& integration) {
  TTestInstallerEnvironment environment;
  TestProduct.Actions = {ActionClassOf<TInstallerActionConfig>()};
  TRecordingListener listener;  // outlives the installer
  TInstaller installer(u"/AUTO=" + dest + params);
  ChooseLanguage(installer.Resources(), false);
  for (const auto& [key, value] : integration) installer.Options().WriteString(u"Integration", key, value);
  installer.AddListener(&listener);
  installer.Start(false);
  ASSERT_TRUE(installer.Thread()->WaitFor(60000));
  installer.RemoveListener(&listener);
  EXPECT_FALSE(installer.HasErrors()) << zel::ToUtf8(installer.Errors()[0]);
  ASSERT_FALSE(listener.EventsWithCode(NotifyStatus).empty());
  EXPECT_EQ(listener.EventsWithCode(NotifyStatus).front().Text, u"Saving settings...");
}

}  // namespace

TEST(ActionConfig, RewritesSystemCopiesIntegrationAndKeepsTheRest) {
  const std::string existing =
      "[Player]\r\nVolume=50\r\n\r\n"
      "[System]\r\nSkin=Dark\r\nUserMode=0\r\nVersion=4600\r\nDefaultLang=German.lng\r\n\r\n"
      "[Integration]\r\nOldKey=1\r\nShortcutDesktop=1\r\n\r\n"
      "[Hotkeys]\r\nPlay=Space\r\nStop=S\r\n";
  const struct {
    const char16_t* params;
    const char16_t* userMode;
  } cases[] = {{u" /SILENT", u"UserMode=1"}, {u" /SILENT /PORTABLE", u"UserMode=0"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(zel::ToUtf8(c.params));
    const String dest = ScratchDir(u"ActionConfig-write");
    WriteAll(dest + u"\\KIVO.ini", Bytes(existing));
    RunConfig(dest, c.params, {{u"IntegrateToWindows", u"1"}, {u"ShortcutDesktop", u"0"}, {u"Custom", u"7"}});

    zel::TZELIniFile ini(dest + u"\\KIVO.ini");
    EXPECT_EQ(SectionLines(ini, u"System"),
              (std::vector<String>{c.userMode, u"DefaultLang=English.lng", u"Version=5100"}));
    EXPECT_EQ(SectionLines(ini, u"Integration"),
              (std::vector<String>{u"IntegrateToWindows=1", u"ShortcutDesktop=0", u"Custom=7"}));
    EXPECT_EQ(SectionLines(ini, u"Player"), (std::vector<String>{u"Volume=50"}));
    EXPECT_EQ(SectionLines(ini, u"Hotkeys"), (std::vector<String>{u"Play=Space", u"Stop=S"}));
    EXPECT_EQ(ini.SectionCount(), 4u);
  }
}

TEST(ActionConfig, KeepsTheEncodingOfAnExistingFile) {
  const struct {
    const char* what;
    std::string before;  // empty: no file
    std::vector<uint8_t> mark;
    zel::TZELIniEncoding encoding;
  } cases[] = {
      {"new file", "", {0xFF, 0xFE}, zel::TZELIniEncoding::Utf16LE},
      {"ANSI", "[Player]\r\nVolume=50\r\n", {'['}, zel::TZELIniEncoding::Ansi},
      {"UTF-8", "\xEF\xBB\xBF[Player]\r\nVolume=50\r\n", {0xEF, 0xBB, 0xBF}, zel::TZELIniEncoding::Utf8},
      {"UTF-16LE", std::string("\xFF\xFE[\0P\0]\0\r\0\n\0", 12), {0xFF, 0xFE}, zel::TZELIniEncoding::Utf16LE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const String dest = ScratchDir(u"ActionConfig-encoding");
    if (!c.before.empty()) WriteAll(dest + u"\\KIVO.ini", Bytes(c.before));
    RunConfig(dest, u" /SILENT", {});
    const std::vector<uint8_t> bytes = ReadAll(dest + u"\\KIVO.ini");
    ASSERT_GE(bytes.size(), c.mark.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(c.mark.size())), c.mark);
    zel::TZELIniFile ini(dest + u"\\KIVO.ini");
    EXPECT_EQ(ini.Encoding(), c.encoding);
    EXPECT_EQ(ini.ReadInteger(u"System", u"Version", 0), 5100);
  }
}

TEST(ActionConfig, AFileThatCannotBeWrittenDoesNotFailTheRun) {
  const String dest = ScratchDir(u"ActionConfig-unwritable");
  ASSERT_TRUE(::CreateDirectoryW(zel::as_wcstr(dest + u"\\KIVO.ini"), nullptr));  // a folder in the way
  RunConfig(dest, u" /SILENT", {});
}

TEST(ActionConfig, ProductInfoReadsTheInstalledConfiguration) {
  struct Case {
    const char* what;
    const char* kivoIni;  // null: no such file
    const char* kivo3Ini;
    int32_t version;
    bool portable;
    bool canUpdate;
    const char16_t* integration;
    const char* product = "KIVO";
  };
  // A vendor's product (version 5.10 as well) updates every earlier version of its own,
  // and a "KIVO3.ini" is not its file.
  const Case cases[] = {
      {"no configuration", nullptr, nullptr, 0, false, false, u""},
      {"3499", "[System]\r\nVersion=3499\r\nUserMode=1\r\n", nullptr, 3499, false, false, u""},
      {"3500, portable", "[System]\r\nVersion=3500\r\nUserMode=0\r\n", nullptr, 3500, true, true, u""},
      {"5109, no UserMode", "[System]\r\nVersion=5109\r\n", nullptr, 5109, false, true, u""},
      {"5110", "[System]\r\nVersion=5110\r\nUserMode=0\r\n", nullptr, 5110, true, false, u""},
      {"not a number", "[System]\r\nVersion=5.10\r\n", nullptr, 0, false, false, u""},
      {"KIVO3.ini only", nullptr, "[System]\r\nVersion=3600\r\nUserMode=0\r\n[Integration]\r\nShortcutDesktop=0\r\n",
       3600, true, true, u"ShortcutDesktop=0"},
      {"KIVO.ini first", "[System]\r\nVersion=5000\r\n[Integration]\r\nAssociateWithFiles=1\r\n",
       "[System]\r\nVersion=3600\r\nUserMode=0\r\n", 5000, false, true, u"AssociateWithFiles=1"},
      {"vendor at 1.10", "[System]\r\nVersion=1100\r\nUserMode=0\r\n", nullptr, 1100, true, true, u"", "Acme Tools"},
      {"vendor at 5.10", "[System]\r\nVersion=5109\r\n", nullptr, 5109, false, true, u"", "Acme Tools"},
      {"vendor, a newer one", "[System]\r\nVersion=5110\r\n", nullptr, 5110, false, false, u"", "Acme Tools"},
      {"vendor, KIVO3.ini only", nullptr, "[System]\r\nVersion=3600\r\n", 0, false, false, u"", "Acme Tools"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const String dest = ScratchDir(u"ActionConfig-read");
    if (c.kivoIni) WriteAll(dest + u"\\KIVO.ini", Bytes(c.kivoIni));
    if (c.kivo3Ini) WriteAll(dest + u"\\KIVO3.ini", Bytes(c.kivo3Ini));
    TTestInstallerEnvironment environment(DefaultSetupMembers(c.product));
    RegisterProductKIVO();  // the environment puts the test product back afterwards
    TInstaller installer(u"/AUTO=" + dest);
    // Choices of an earlier destination must not leak into this one.
    installer.Options().WriteString(u"Integration", u"Stale", u"1");
    installer.SetDestPath(dest + u"\\.\\");
    TInstallerProductInfo& info = installer.ProductInfo();
    EXPECT_EQ(info.GetInstalledVersion(), c.version);
    EXPECT_EQ(info.IsPortable(), c.portable);
    EXPECT_EQ(info.CanUpdate(), c.canUpdate);
    EXPECT_EQ(installer.HasFlag(TInstallerFlag::Update), c.canUpdate);
    EXPECT_EQ(installer.HasFlag(TInstallerFlag::Portable), c.canUpdate && c.portable);
    EXPECT_EQ(installer.Options().ReadSectionText(u"Integration"), c.integration);
  }
}

TEST(ActionConfig, ProductInfoFindsOnlyItsOwnEarlierInstallation) {
  const String kivo = ScratchDir(u"ActionConfig-find-kivo") + u"\\",
               acme = ScratchDir(u"ActionConfig-find-acme") + u"\\";
  ASSERT_TRUE(TInstallerApplicationRepository::Register(u"KIVO", kivo + u"Uninstall.exe", u"5.0", u"p", u"h"));
  const struct {
    const char* product;
    bool acmeRegistered;
    String expected;  // empty: not found
  } cases[] = {{"KIVO", true, kivo}, {"Acme Tools", true, acme}, {"Acme Tools", false, u""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.product) + (c.acmeRegistered ? ", registered" : ""));
    if (c.acmeRegistered)
      ASSERT_TRUE(
          TInstallerApplicationRepository::Register(u"Acme Tools", acme + u"Uninstall.exe", u"1.1", u"p", u"h"));
    else TInstallerApplicationRepository::Unregister(u"Acme Tools");
    TTestInstallerEnvironment environment(DefaultSetupMembers(c.product));
    RegisterProductKIVO();
    TInstaller installer(u"/AUTO=" + kivo);
    String folder;
    EXPECT_EQ(TProductInfoKIVO::FindInstallation(folder), !c.expected.empty());
    EXPECT_EQ(folder, c.expected);
  }
  TInstallerApplicationRepository::Unregister(u"KIVO");
}
