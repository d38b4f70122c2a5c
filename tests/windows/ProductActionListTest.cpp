// Which actions the product lists, in which order, for each kind of run.
#include <gtest/gtest.h>

#include "TestInstaller.h"
#include "TestSupport.h"
#include "product/ProductInfoKIVO.h"
#include "product/WindowsVersion.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

// English with a language id nobody has, so that a Russian file with the user's own id
// is the one chosen without a dialog.
TMembers SetupWithRussian() {
  TMembers setup = DefaultSetupMembers();
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
  const TWindowsVersion saved = WindowsVersion();
  WindowsVersion() = {major, minor};
  TTestInstallerEnvironment environment(setup, product);
  RegisterProductKIVO();
  std::string names;
  {
    TInstaller installer(params);
    installer.Resources().InitializeLanguages(false);
    if (!wizardDest.empty()) installer.SetDestPath(wizardDest);
    installer.ProductInfo().PopulateActions([&](const TInstallerActionClass& action) {
      std::string name = action.Name;
      names += (names.empty() ? "" : " ") + name.substr(std::string("TInstallerAction").size());
    });
  }
  WindowsVersion() = saved;
  return names;
}

}  // namespace

TEST(ProductActionList, EachKindOfRunListsItsActionsInOrder) {
  const String fresh = ScratchDir(u"ProductActions-fresh");
  const String installed = ScratchDir(u"ProductActions-4600");
  WriteAll(installed + u"\\KIVO.ini", Bytes("[System]\r\nUserMode=1\r\nVersion=4600\r\n"));
  const String portable = ScratchDir(u"ProductActions-portable");
  WriteAll(portable + u"\\KIVO.ini", Bytes("[System]\r\nUserMode=0\r\nVersion=4600\r\n"));
  const TMembers english = DefaultSetupMembers(), russian = SetupWithRussian();
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
      {"update, Windows 7", english, u"/AUTO=" + installed + u" /UPDATE", 6, 1, "CloseApplications Prepare Extract Config"},
      {"update of a portable installation, Windows 10", english, u"/AUTO=" + portable + u" /UPDATE", 10, 0,
       "CloseApplications Prepare Extract Config UpdateShellCache"},
      {"Russian, Auto", russian, u"/AUTO=" + fresh, 6, 1, "CloseApplications Prepare Extract Config Integrate Shortcuts"},
      {"Russian, wizard", russian, u"", 6, 1,
       "CloseApplications Prepare AddonsInstall Extract Config Integrate Shortcuts"},
      {"English, wizard", english, u"", 6, 1, "CloseApplications Prepare Extract Config Integrate Shortcuts"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ActionNames(c.setup, {}, c.params, c.major, c.minor, c.params.empty() ? fresh : String()), c.expected)
        << c.what;

  // An uninstaller: its product package holds Uninstall.ini.
  EXPECT_EQ(ActionNames(english, {{u"Uninstall.ini", "[Uninstall]\r\nCount=0\r\n"}}, u"/AUTO /SILENT", 10, 0),
            "CloseApplications UninstallIntegration UninstallFiles");
}
