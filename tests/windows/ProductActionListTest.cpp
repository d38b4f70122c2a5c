// Which actions the product lists, in which order, for each kind of run.
#include <gtest/gtest.h>

#include "TestInstaller.h"
#include "TestSupport.h"
#include "core/SummaryBuilder.h"
#include "product/ProductInfoKIVO.h"
#include "library/win/WindowsVersion.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

// English with a language id nobody has, so that a Russian file with the user's own id
// is the one chosen without a dialog.
// With `addons`, an addons.ini as the sample's: a vendor's setup may have none.
TMembers SetupWithRussian(bool addons = true) {
  TMembers setup = DefaultSetupMembers();
  if (addons) setup.push_back({u"addons.ini", "[Addons]\r\nP4=AddonSetup.exe\r\nI0=addons.png\r\n"});
  std::string english = DefaultEnglishLng();
  english.replace(english.find("LangId=1033"), 11, "LangId=4095");
  setup[1].second = english;
  const unsigned ui = ::GetUserDefaultUILanguage();
  setup.push_back({u"Russian.lng", "[File]\r\nName=Russian\r\nLangId=" + std::to_string(ui) + "\r\nFamily=RU\r\n"});
  return setup;
}

// A wizard run (no parameters) is pointed at wizardDest, as its setup page would.
std::string ActionNames(const TMembers& setup, const TMembers& product, const String& params, uint32_t major,
                        uint32_t minor, const String& wizardDest = {}) {
  const zel::TWindowsVersion saved = zel::WindowsVersion();
  zel::WindowsVersion() = {major, minor};
  TTestInstallerEnvironment environment(setup, product);
  RegisterProductKIVO();
  std::string names;
  {
    TInstaller installer(params);
    ChooseLanguage(installer.Resources(), false);
    if (!wizardDest.empty()) installer.SetDestPath(wizardDest);
    installer.ProductInfo().PopulateActions([&](const TInstallerActionClass& action) {
      std::string name = action.Name;
      names += (names.empty() ? "" : " ") + name.substr(std::string("TInstallerAction").size());
    });
  }
  zel::WindowsVersion() = saved;
  return names;
}

// The ready page's summary from the integration, shortcut and add-on actions of the run,
// made as the page makes it (temporary instances); texts shown as "Section/Key".
std::string Summary(const TMembers& setup, const String& params, const String& wizardDest,
                    const std::vector<std::pair<String, String>>& options) {
  TTestInstallerEnvironment environment(setup);
  RegisterProductKIVO();
  TInstaller installer(params);
  ChooseLanguage(installer.Resources(), false);
  if (!wizardDest.empty()) installer.SetDestPath(wizardDest);
  for (const auto& [key, value] : options) {
    const size_t slash = key.find(u'/');
    installer.Options().WriteString(key.substr(0, slash), key.substr(slash + 1), value);
  }
  TInstallerSummaryBuilder builder(
      [](zel::StringView section, zel::StringView key) { return String(section) + u"/" + String(key); });
  installer.ProductInfo().PopulateActions([&](const TInstallerActionClass& actionClass) {
    const std::string name = actionClass.Name;
    if (name.find("Integrate") == std::string::npos && name.find("Shortcuts") == std::string::npos &&
        name.find("Addons") == std::string::npos)
      return;
    actionClass.Create()->BuildSummary(builder);
  });
  std::string text = zel::ToUtf8(builder.ToString());
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "|");
  return text;
}

}  // namespace

TEST(ProductActionList, SummaryLinesFollowTheOptions) {
  const String fresh = ScratchDir(u"ProductActions-summary");
  const String autoRun = u"/AUTO=" + fresh + u" /SILENT";
  EXPECT_EQ(Summary(DefaultSetupMembers(), autoRun, {}, {}),
            "PageIntegration/LB2|    PageIntegration/CB4|    PageIntegration/CB5|    PageIntegration/CB3||"
            "PageIntegration/LB1|    PageIntegration/CB1|    PageIntegration/CB2|");
  EXPECT_EQ(Summary(DefaultSetupMembers(), autoRun, {},
                    {{u"Integration/IntegrateToWindows", u"0"},
                     {u"Integration/RegisterContextMenu", u"0"},
                     {u"Integration/AssociateWithFiles", u"0"},
                     {u"Integration/ShortcutDesktop", u"0"}}),
            "PageIntegration/LB1|    PageIntegration/CB2|");
  // Portable: no integration, and both shortcuts off unless chosen.
  EXPECT_EQ(Summary(DefaultSetupMembers(), autoRun + u" /PORTABLE", {}, {}), "");
  // The add-ons of a Russian wizard run.
  EXPECT_EQ(Summary(SetupWithRussian(), u"", fresh,
                    {{u"Common/AddonsViewer", u"1"},
                     {u"Common/AddonsShortcuts", u"1"},
                     {u"Integration/IntegrateToWindows", u"0"},
                     {u"Integration/RegisterContextMenu", u"0"},
                     {u"Integration/AssociateWithFiles", u"0"},
                     {u"Integration/ShortcutDesktop", u"0"},
                     {u"Integration/ShortcutStartMenu", u"0"}}),
            "PageAddons/Title|    PageAddons/CB1|    PageAddons/CB3|");
}

TEST(ProductActionList, EachKindOfRunListsItsActionsInOrder) {
  const String fresh = ScratchDir(u"ProductActions-fresh");
  const String installed = ScratchDir(u"ProductActions-4600");
  WriteAll(installed + u"\\KIVO.ini", Bytes("[System]\r\nUserMode=1\r\nVersion=4600\r\n"));
  const String portable = ScratchDir(u"ProductActions-portable");
  WriteAll(portable + u"\\KIVO.ini", Bytes("[System]\r\nUserMode=0\r\nVersion=4600\r\n"));
  const TMembers english = DefaultSetupMembers(), russian = SetupWithRussian(), noAddons = SetupWithRussian(false);
  struct Case {
    const char* what;
    const TMembers& setup;
    String params;
    uint32_t major, minor;
    const char* expected;
  };
  const Case cases[] = {
      {"fresh silent, Windows 10", english, u"/AUTO=" + fresh + u" /SILENT", 10, 0,
       "CloseApplications Prepare Extract Config Integrate Shortcuts UpdateShellCache"},
      {"fresh silent, Windows 7", english, u"/AUTO=" + fresh + u" /SILENT", 6, 1,
       "CloseApplications Prepare Extract Config Integrate Shortcuts"},
      {"portable, Windows 10", english, u"/AUTO=" + fresh + u" /SILENT /PORTABLE", 10, 0,
       "CloseApplications Prepare Extract Config Shortcuts UpdateShellCache"},
      {"update, Windows 7", english, u"/AUTO=" + installed + u" /UPDATE", 6, 1,
       "CloseApplications Prepare Extract Config"},
      {"update of a portable installation, Windows 10", english, u"/AUTO=" + portable + u" /UPDATE", 10, 0,
       "CloseApplications Prepare Extract Config UpdateShellCache"},
      {"Russian, Auto", russian, u"/AUTO=" + fresh, 6, 1,
       "CloseApplications Prepare Extract Config Integrate Shortcuts"},
      {"Russian, wizard", russian, u"", 6, 1,
       "CloseApplications Prepare AddonsInstall Extract Config Integrate Shortcuts"},
      {"English, wizard", english, u"", 6, 1, "CloseApplications Prepare Extract Config Integrate Shortcuts"},
      {"Russian, wizard, no addons.ini", noAddons, u"", 6, 1,
       "CloseApplications Prepare Extract Config Integrate Shortcuts"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ActionNames(c.setup, {}, c.params, c.major, c.minor, c.params.empty() ? fresh : String()), c.expected)
        << c.what;

  // An uninstaller: its product package holds Uninstall.ini.
  EXPECT_EQ(ActionNames(english, {{u"Uninstall.ini", "[Uninstall]\r\nCount=0\r\n"}}, u"/AUTO /SILENT", 10, 0),
            "CloseApplications UninstallFiles UninstallIntegration UninstallEntry");
}
