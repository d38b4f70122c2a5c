// The page framework on the real installer object: names and texts, the licence rule,
// the ready page's summary from the run's actions, pictures at the window's scale, the install page's events, the
// room between a page's blocks, and the page list's navigation over availability.
#include <gtest/gtest.h>

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "TestInstaller.h"
#include "core/InstallerThread.h"
#include "core/RunLog.h"
#include "core/SummaryBuilder.h"
#include "library/Streams.h"
#include "library/win/FileSystem.h"
#include "ui/InstallerPages.h"
#include "ui/toolkit/Application.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

// A 4 × 3 picture, for the full-screen pages.
const std::string kPicture(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x04\x00\x00\x00\x03\x08\x02\x00\x00"
    "\x00\x3b\x96\x39\x91\x00\x00\x00\x10\x49\x44\x41\x54\x78\x9c\x63\xf8\xcf\xc0\x00\x47\x0c\x38\x39\x00\xf5\x31\x0b"
    "\xf5\x35\x7b\xfb\x82\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82",
    73);

// The same picture at 200 %: 8 × 6.
const std::string kPicture200(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x08\x00\x00\x00\x06\x08\x02\x00\x00"
    "\x00\x71\x67\x48\xac\x00\x00\x00\x11\x49\x44\x41\x54\x78\xda\x63\xf8\xdf\xc0\x80\x15\x31\x0c\xa4\x04\x00\x3b\x91"
    "\x47\xd1\x21\xd4\x2f\xab\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82",
    74);

TMembers PageSetupMembers() {
  TMembers members = DefaultSetupMembers();
  members.push_back({u"wizard_light.png", kPicture});
  members.push_back({u"wizard_dark.png", kPicture});
  members.push_back({u"only-200.png", kPicture200});
  members.push_back({u"both.png", kPicture});
  members.push_back({u"both-200.png", kPicture200});
  members.push_back({u"broken-150.png", "\x89PNG\r\n\x1A\nnot really"});
  for (auto& member : members)
    if (member.first == u"English.lng")
      member.second +=
          "\r\n[PageReadyToInstall]\r\nTitle=Ready\r\nDescription=Check it\r\n"
          "[PageLicense]\r\nTitle=Licence\r\nL1=I &accept\r\n"
          "[PageSetup]\r\nLB1=Destination:\r\nTitle=Type:\r\nCB2=Standard\r\n"
          "[PageFinish]\r\nE1=Failed\r\nE2=Errors:\r\n"
          "[Common]\r\nStopping=Stopping...\r\nFailedHelp=Run it again.\r\nFailedLog=Log: %s\r\n";
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
    ChooseLanguage(FInstaller->Resources(), false);
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

TEST_F(InstallerPages, PicturesAtTheScaleOfTheWindowWithTheirDesignSize) {
  const TScaledPicture both(FInstaller->Resources(), u"both.png");
  ASSERT_TRUE(both);
  EXPECT_EQ(both.DesignWidth(), 4);
  EXPECT_EQ(both.DesignHeight(), 3);
  EXPECT_EQ(both.For(zel::TScale::ForDpi(96))->GetWidth(), 4u);
  EXPECT_EQ(both.For(zel::TScale::ForDpi(144))->GetWidth(), 8u);  // reduced from 200 %, not enlarged
  EXPECT_EQ(both.For(zel::TScale::ForDpi(192))->GetWidth(), 8u);
  // Only a large one: its design size is half its pixels; a damaged variant is passed over.
  const TScaledPicture large(FInstaller->Resources(), u"only.png");
  EXPECT_EQ(large.DesignWidth(), 4);
  EXPECT_EQ(large.For(zel::TScale::ForDpi(96))->GetWidth(), 8u);
  const TScaledPicture broken(FInstaller->Resources(), u"broken.png");
  EXPECT_FALSE(broken);
  EXPECT_EQ(broken.For(zel::TScale::ForDpi(144)), nullptr);
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
  // Read-only, but enabled: a disabled viewer takes no wheel, keys or clicks to scroll.
  for (const auto& control : page->Controls())
    if (auto* viewer = dynamic_cast<zel::TZELRichViewer*>(control.get())) {
      EXPECT_TRUE(::IsWindowEnabled(viewer->Handle()));
      EXPECT_TRUE(::GetWindowLongPtrW(viewer->Handle(), GWL_STYLE) & ES_READONLY);
    }
}

TEST_F(InstallerPages, AFailedRunShowsMessagesWhatToDoAndTheLogButNoStack) {
  auto page = PageClassOf<TInstallerPageFinish>().Create();
  FInstaller->AddError(
      FormatErrorEntry(u"The file \"C:\\x\" could not be read.", u"Setup.exe+0x2d089\r\nSetup.exe+0x1f00"));
  FInstaller->AddError(FormatErrorEntry(u"Second", u"0x7ff00001"));
  FInstaller->AddError(u"Cancelled");  // an entry without a stack
  struct TCase {
    const char* what;
    bool logOpen;
  };
  for (const TCase& c : {TCase{"with /LOG", true}, TCase{"without a log", false}}) {
    SCOPED_TRACE(c.what);
    const String given = zel::IncludeTrailingBackslash(zel::LongTempFolder()) + u"kivo-pages-test.log";
    ::DeleteFileW(zel::as_wcstr(given));
    RunLog().Close();
    if (c.logOpen) ASSERT_TRUE(RunLog().Open(given));
    page->Prepare();
    const String log = RunLog().Path();
    ASSERT_FALSE(log.empty()) << "a failure always has a log to name";
    if (c.logOpen) EXPECT_EQ(log, given);
    String shown;
    for (const auto& control : page->Controls())
      if (dynamic_cast<zel::TZELMemo*>(control.get())) shown = WindowText(control->Handle());
    EXPECT_EQ(shown,
              u"The file \"C:\\x\" could not be read.\r\nSecond\r\nCancelled\r\n\r\nRun it again.\r\n\r\nLog: " + log);
    RunLog().Close();
    if (!c.logOpen) {
      // The log made for the failure holds the stacks the user does not see.
      zel::TFileStream file(log, zel::FileMode::OpenRead);
      std::string text(static_cast<size_t>(file.Size()), '\0');
      file.ReadBuffer(text.data(), text.size());
      EXPECT_NE(text.find("Setup.exe+0x2d089"), std::string::npos);
      EXPECT_NE(text.find("0x7ff00001"), std::string::npos);
    }
    ::DeleteFileW(zel::as_wcstr(log));
  }
}

TEST_F(InstallerPages, ABlockStandsAsFarBelowTheOneAboveOnEveryPage) {
  // The gap between two controls of a page, one under the other (pixels at 96 DPI).
  const auto gapBetween = [](TInstallerCustomPage& page, auto isUpper, auto isLower) {
    page.SetBoundsPixels(zel::TRect{0, 0, 640, 436});
    RECT upper{}, lower{};
    for (const auto& control : page.Controls()) {
      if (isUpper(*control)) ::GetWindowRect(control->Handle(), &upper);
      if (isLower(*control)) ::GetWindowRect(control->Handle(), &lower);
    }
    return static_cast<int>(lower.top - upper.bottom);
  };
  const auto isViewer = [](zel::TZELControl& c) { return dynamic_cast<zel::TZELRichViewer*>(&c) != nullptr; };
  const auto isMemo = [](zel::TZELControl& c) { return dynamic_cast<zel::TZELMemo*>(&c) != nullptr; };
  const auto named = [](const char16_t* name) { return [name](zel::TZELControl& c) { return c.Name() == name; }; };
  // The licence text and its acceptance box.
  auto licence = PageClassOf<TInstallerPageLicense>().Create();
  EXPECT_EQ(gapBetween(*licence, isViewer, named(u"L1")), 2 * kBlockMargin);
  // A failed run's messages and the website link under them.
  auto finish = PageClassOf<TInstallerPageFinish>().Create();
  FInstaller->AddError(u"Failed");
  finish->Prepare();
  const String log = RunLog().Path();  // the failure's own log
  RunLog().Close();
  ::DeleteFileW(zel::as_wcstr(log));
  EXPECT_EQ(gapBetween(*finish, isMemo, named(u"L3")), 2 * kBlockMargin);
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
  // A confirmed cancel: the status says so, and the worker's texts do not replace it.
  auto statusIs = [&](const String& text) {
    for (const auto& control : install.Controls())
      if (control->Caption() == text) return true;
    return false;
  };
  install.ShowStopping();
  EXPECT_TRUE(statusIs(u"Stopping..."));
  FInstaller->NotifyText(NotifyStatus, u"Copying more");
  EXPECT_TRUE(statusIs(u"Stopping..."));
  EXPECT_FALSE(statusIs(u"Copying more"));
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
