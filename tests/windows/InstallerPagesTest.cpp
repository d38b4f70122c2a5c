// The page framework on the real installer object: names and texts, the licence rule,
// the ready page's summary from the run's actions, the install page's events, and the
// page list's navigation over availability.
#include <gtest/gtest.h>

#include <windows.h>

#include "TestInstaller.h"
#include "core/SummaryBuilder.h"
#include "ui/InstallerPages.h"
#include "ui/toolkit/Application.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

TMembers PageSetupMembers() {
  TMembers members = DefaultSetupMembers();
  for (auto& member : members)
    if (member.first == u"English.lng")
      member.second += "\r\n[PageReadyToInstall]\r\nTitle=Ready\r\nDescription=Check it\r\n"
                       "[PageLicense]\r\nTitle=Licence\r\nL1=I &accept\r\n"
                       "[PageSetup]\r\nLB1=Destination:\r\nTitle=Type:\r\nCB2=Standard\r\n";
  return members;
}

// Contributes like the prepare step: the destination, then the kind of installation.
class TSummaryAction : public TInstallerAction {
  KIVO_ACTION_CLASS(TSummaryAction)
public:
  void Execute() override {}
  void BuildSummary(TInstallerSummaryBuilder& builder) override {
    builder.SetGroup(u"PageSetup", u"LB1");
    builder.AddLine(Installer->DestPath());
    builder.SetGroup(u"PageSetup", u"Title");
    builder.AddLine(u"PageSetup", u"CB2");
  }
};
class TSilentAction : public TInstallerAction {
  KIVO_ACTION_CLASS(TSilentAction)
public:
  void Execute() override {}
};

// A page whose availability the test switches.
class TSwitchPage : public TInstallerPage {
  KIVO_PAGE_CLASS(TInstallerPageSwitch)
public:
  TSwitchPage() : TInstallerPage(ClassNameStatic()) {}
  bool IsAvailable() override { return Available; }
  bool CanGoBack() override { return Back; }
  bool Available = true;
  bool Back = true;
};

String WindowText(HWND window) {
  wchar_t buffer[1024];
  const int n = ::GetWindowTextW(window, buffer, 1024);
  return zel::from_wcstr(buffer, static_cast<size_t>(n > 0 ? n : 0));
}

template <typename T>
T* ControlNamed(TInstallerCustomPage& page, const String& name) {
  for (const auto& control : page.Controls())
    if (control->Name() == name) return dynamic_cast<T*>(control.get());
  return nullptr;
}

class InstallerPages : public ::testing::Test {
protected:
  void SetUp() override {
    zel::Application::Initialize();
    FInstaller = std::make_unique<TInstaller>(u"/AUTO=C:\\KIVO-Pages");
    FInstaller->Resources().InitializeLanguages(false);
  }
  void TearDown() override { FInstaller.reset(); }
  TTestInstallerEnvironment FEnvironment{PageSetupMembers()};
  std::unique_ptr<TInstaller> FInstaller;
};

}  // namespace

TEST_F(InstallerPages, NamesSectionsAndTexts) {
  auto ready = PageClassOf<TInstallerPageReadyToInstall>().Create();
  EXPECT_EQ(ready->Name(), u"PageReadyToInstall");
  EXPECT_EQ(ready->Title(), u"Ready");
  EXPECT_EQ(ready->Description(), u"Check it");
  EXPECT_EQ(WindowText(ready->Handle()), u"PageReadyToInstall");  // for tools and screen readers
  EXPECT_FALSE(ready->Visible());
  auto install = PageClassOf<TInstallerPageInstall>().Create();
  EXPECT_EQ(install->Name(), u"PageInstall");
  EXPECT_EQ(install->Title(), u"");  // no section: empty texts
  EXPECT_EQ(PageClassOf<TInstallerPageUninstall>().Create()->Name(), u"PageUninstall");
}

TEST_F(InstallerPages, LicenceNextOnlyWhileTheBoxIsTicked) {
  auto page = PageClassOf<TInstallerPageLicense>().Create();
  auto* box = ControlNamed<zel::TZELCheckBox>(*page, u"L1");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->Caption(), u"I &accept");
  EXPECT_FALSE(page->CanGoBack());
  EXPECT_FALSE(page->CanGoNext());
  box->SetChecked(true);
  EXPECT_TRUE(page->CanGoNext());
  box->SetChecked(false);
  EXPECT_FALSE(page->CanGoNext());

  page->Prepare();
  HWND viewer = nullptr;
  for (const auto& control : page->Controls())
    if (dynamic_cast<zel::TZELRichViewer*>(control.get())) viewer = control->Handle();
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(WindowText(viewer), u"License");  // the rich text, read as text
}

TEST_F(InstallerPages, ReadySummaryFromTheRunsActionsRebuiltOnEveryActivation) {
  TestProduct.Actions = {ActionClassOf<TSilentAction>(), ActionClassOf<TSummaryAction>()};
  auto page = PageClassOf<TInstallerPageReadyToInstall>().Create();
  auto& ready = static_cast<TInstallerPageReadyToInstall&>(*page);
  ready.Prepare();
  EXPECT_EQ(ready.Summary(), u"Destination:\r\n    C:\\KIVO-Pages\\\r\n\r\nType:\r\n    Standard\r\n");
  FInstaller->SetDestPath(u"D:\\Elsewhere");
  ready.Prepare();
  EXPECT_EQ(ready.Summary(), u"Destination:\r\n    D:\\Elsewhere\\\r\n\r\nType:\r\n    Standard\r\n");
  TestProduct.Actions = {ActionClassOf<TSilentAction>()};
  ready.Prepare();
  EXPECT_EQ(ready.Summary(), u"");
}

TEST_F(InstallerPages, InstallPageFollowsTheEvents) {
  auto page = PageClassOf<TInstallerPageInstall>().Create();
  auto& install = static_cast<TInstallerPageInstall&>(*page);
  EXPECT_FALSE(install.CanGoBack());
  EXPECT_FALSE(install.CanGoNext());
  EXPECT_EQ(install.Kind(), TNextPageKind::Install);
  EXPECT_EQ(PageClassOf<TInstallerPageUninstall>().Create()->Kind(), TNextPageKind::Uninstall);
  // Delivered through the installer: the page is one of its listeners.
  FInstaller->Notify(NotifyProgress, (70 << 16) | 30);
  EXPECT_EQ(install.GetProgress(), 70);
  FInstaller->NotifyText(NotifyStatus, u"Copying");
  bool statusShown = false;
  for (const auto& control : install.Controls())
    if (control->Caption() == u"Copying") statusShown = true;
  EXPECT_TRUE(statusShown);
  FInstaller->Notify(NotifyEnded, 0);
  EXPECT_TRUE(install.CanGoNext());
}

TEST_F(InstallerPages, ListNavigationSkipsUnavailablePages) {
  TInstallerPageList pages;
  std::vector<TSwitchPage*> p;
  for (int i = 0; i < 4; ++i) {
    auto page = std::make_unique<TSwitchPage>();
    page->Construct();
    p.push_back(page.get());
    pages.Add(std::move(page));
  }
  p[1]->Available = false;
  p[2]->Available = false;
  EXPECT_EQ(pages.First(), p[0]);
  EXPECT_EQ(pages.Last(), p[3]);
  EXPECT_EQ(pages.NextAvailable(p[0]), p[3]);
  EXPECT_EQ(pages.PrevAvailable(p[3]), p[0]);
  EXPECT_EQ(pages.NextAvailable(p[3]), nullptr);
  EXPECT_FALSE(pages.CanGoBack(p[0]));  // nothing before it
  EXPECT_TRUE(pages.CanGoBack(p[3]));
  p[3]->Back = false;
  EXPECT_FALSE(pages.CanGoBack(p[3]));  // the page refuses
  EXPECT_FALSE(pages.CanGoNext(p[3]));  // the last page
  EXPECT_FALSE(pages.CanGoNext(nullptr));
  p[2]->Available = true;  // back in the sequence
  EXPECT_EQ(pages.NextAvailable(p[0]), p[2]);
}
