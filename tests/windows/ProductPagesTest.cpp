// The product pages on the real installer object: what the setup page shows for the
// installer's state and how its clicks and typed paths change DestPath and Flags; the
// options the integration, add-ons and uninstall pages read and write; which pages the
// product lists for each kind of run.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

#include "TestBoxes.h"
#include "TestInstaller.h"
#include "TestSupport.h"
#include "package/InstallerErrors.h"
#include "product/ActionPrepare.h"
#include "product/ProductInfoKIVO.h"
#include "product/ProductPages.h"
#include "ui/toolkit/Application.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

// A 4 × 3 picture.
const std::string kPicture(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x04\x00\x00\x00\x03\x08\x02\x00\x00"
    "\x00\x3b\x96\x39\x91\x00\x00\x00\x10\x49\x44\x41\x54\x78\x9c\x63\xf8\xcf\xc0\x00\x47\x0c\x38\x39\x00\xf5\x31\x0b"
    "\xf5\x35\x7b\xfb\x82\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82",
    73);

std::string PageTexts() {
  return "\r\n[PageSetup]\r\nBrowse=Browse...\r\nCB1=Update\r\nCB4=Back up\r\nCB2=Standard\r\nCB3=Portable\r\n"
         "W1=Will update %s\r\nW3=Another one\r\nW4=Newer %s than %s\r\nW5=Update %s instead\r\nE1=Not in the root "
         "%s\r\nE2=Not in Windows: %s\r\n"
         "ERelative=Not whole: %s\r\nEInvalidChar=%s holds %s\r\nENoDrive=No drive %s\r\nEReadOnly=Read-only %s\r\n"
         "ENoRoom=Full %s: %s needed, %s free\r\nSpace=Need %s; %s free on %s\r\nSpaceNeeded=Need %s\r\n"
         "KB=KB\r\nMB=MB\r\nGB=GB\r\n"
         "[PageAddons]\r\nL0=Add-ons\r\nCB1=Viewer\r\nCB2=Extensions\r\nCB3=Shortcuts\r\n"
         "L1=More: %s\r\nL2=Accept the %s and the %s.\r\n"
         "[PageIntegration]\r\nCB1=Desktop\r\n[PageUninstallParams]\r\nCB1=Backups\r\nCB2=Content\r\n"
         "LFolder=Removes %s\r\nCB2Confirm=Sure?\r\n";
}

TMembers PagesSetup(bool addons = true) {
  TMembers members = DefaultSetupMembers();
  for (auto& member : members)
    if (member.first == u"English.lng") member.second += PageTexts();
  if (addons) {
    members.push_back({u"addons.ini",
                       "[Addons]\r\nI0=pic.png\r\nL0=https://kivo.example/addons/\r\n"
                       "L1=<a href=\"https://kivo.example/l\">licence</a>\r\nL2=policy\r\n"});
    members.push_back({u"pic.png", kPicture});
  }
  return members;
}

template <typename T>
T* Named(TInstallerCustomPage& page, const String& name) {
  for (const auto& control : page.Controls())
    if (control->Name() == name) return dynamic_cast<T*>(control.get());
  return nullptr;
}

// A click as the user makes it: the new state, then the handler.
void Click(zel::TZELCheckBox* box) {
  ASSERT_NE(box, nullptr);
  box->SetChecked(!box->Checked());
  box->OnClick();
}
void Choose(zel::TZELRadioButton* radio) {
  ASSERT_NE(radio, nullptr);
  radio->SetChecked(true);
  radio->OnClick();
}

// Answers the first question box of this thread with a button.
class TBoxAnswer {
public:
  explicit TBoxAnswer(WPARAM button)
      : FWatcher([this, button](HWND box) {
          Asked = true;
          ::PostMessageW(box, WM_COMMAND, button, 0);
        }) {}
  std::atomic<bool> Asked{false};

private:
  TMessageBoxWatcher FWatcher;  // last: Asked is there before it looks
};

class ProductPages : public ::testing::Test {
protected:
  void SetUp() override {
    zel::Application::Initialize();
    FInstaller = std::make_unique<TInstaller>(u"");
    ChooseLanguage(FInstaller->Resources(), false);
  }
  void TearDown() override { FInstaller.reset(); }
  bool Flag(TInstallerFlag flag) const { return FInstaller->HasFlag(flag); }
  TTestInstallerEnvironment FEnvironment{PagesSetup()};
  std::unique_ptr<TInstaller> FInstaller;
};

}  // namespace

TEST_F(ProductPages, SetupPageAtAnUpdatableInstallationAndDecliningIt) {
  TestProduct.CanUpdate = true;
  TestProduct.InstalledVersion = 4600;
  FInstaller->SetDestPath(ScratchDir(u"ProductPages-update"));
  auto page = PageClassOf<TInstallerPageSetup>().Create();
  page->Prepare();
  auto& setup = dynamic_cast<TInstallerPageSetup&>(*page);
  auto* update = Named<zel::TZELCheckBox>(*page, u"CB1");
  auto* backup = Named<zel::TZELCheckBox>(*page, u"CB4");
  auto* portable = Named<zel::TZELRadioButton>(*page, u"CB3");
  auto* standard = Named<zel::TZELRadioButton>(*page, u"CB2");
  ASSERT_TRUE(update && backup && portable && standard);
  EXPECT_TRUE(update->Visible() && update->Checked());
  EXPECT_TRUE(backup->Visible() && backup->Checked());
  EXPECT_FALSE(portable->Enabled());
  EXPECT_FALSE(standard->Enabled());
  EXPECT_TRUE(standard->Checked());
  EXPECT_EQ(setup.Warnings(), std::vector<String>{u"Will update 4.60"});

  Click(backup);
  EXPECT_TRUE(Flag(TInstallerFlag::NoBackup));
  EXPECT_TRUE(Flag(TInstallerFlag::Update));
  Click(backup);
  EXPECT_FALSE(Flag(TInstallerFlag::NoBackup));

  Click(update);
  EXPECT_FALSE(Flag(TInstallerFlag::Update));
  EXPECT_FALSE(backup->Visible());
  EXPECT_TRUE(update->Visible());
  EXPECT_TRUE(portable->Enabled() && standard->Enabled());
  // The folder holds a version that is not being updated: said of this folder, with its version.
  EXPECT_EQ(setup.Warnings(), std::vector<String>{u"Update 4.60 instead"});

  // Nothing to update: ticking it again is undone.
  TestProduct.CanUpdate = false;
  Click(update);
  EXPECT_FALSE(Flag(TInstallerFlag::Update));
  EXPECT_FALSE(update->Checked());
  EXPECT_FALSE(update->Visible());

  // A newer version than this setup's: named, without the advice to update it.
  TestProduct.InstalledVersion = 5200;
  auto newer = PageClassOf<TInstallerPageSetup>().Create();
  newer->Prepare();
  EXPECT_EQ(dynamic_cast<TInstallerPageSetup&>(*newer).Warnings(), std::vector<String>{u"Newer 5.20 than 5.10"});
  EXPECT_TRUE(TInstallerActionPrepare::IsDowngrade());
}

TEST_F(ProductPages, SetupPageTypedPaths) {
  auto page = PageClassOf<TInstallerPageSetup>().Create();
  page->Prepare();
  auto& setup = dynamic_cast<TInstallerPageSetup&>(*page);
  auto* edit = Named<zel::TZELButtonEdit>(*page, u"PathEdit");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->Text(), TestProduct.DefaultPath);
  EXPECT_EQ(edit->Button().Caption(), u"Browse...");
  const int loads = TestProduct.LoadInstalledConfigCalls;
  struct TCase {
    const char16_t* Typed;
    const char16_t* Dest;
    bool Next;
    const char16_t* Refusal;  // the page's last warning
  } cases[] = {
      {u"C:\\Typed", u"C:\\Typed\\", true, nullptr},
      {u"C:\\Typed\\KIVO", u"C:\\Typed\\KIVO\\", true, nullptr},
      {u"", u"", false, nullptr},
      {u"C:\\", u"", false, u"Not in the root C:\\"},
      {u"C:/windows/KIVO", u"", false, u"Not in Windows: C:\\windows\\KIVO"},
      {u"  C:/Forward/Slashes  ", u"C:\\Forward\\Slashes\\", true, nullptr},
      // Never made into another folder: no destination, and Next is there to say why.
      {u"kivo", u"", true, nullptr},
      {u"C:\\bad|name", u"", true, nullptr},
      {u"C:\\Typed\\KIVO", u"C:\\Typed\\KIVO\\", true, nullptr},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(zel::ToUtf8(c.Typed));
    edit->SetText(c.Typed);
    EXPECT_EQ(edit->Text(), c.Typed);  // kept as typed, though stored normalised
    EXPECT_EQ(FInstaller->DestPath(), c.Dest);
    EXPECT_EQ(page->CanGoNext(), c.Next);
    const std::vector<String> warnings = setup.Warnings();
    EXPECT_EQ(warnings.empty() ? String() : warnings.back(), c.Refusal ? String(c.Refusal) : String());
  }
  // What Next says about the folder in the edit.
  struct TCheck {
    const char16_t* Typed;
    const char16_t* Message;
  } checks[] = {
      {u"C:\\Typed\\KIVO", u""},
      {u"kivo", u"Not whole: kivo"},
      {u"..\\KIVO", u"Not whole: ..\\KIVO"},
      {u"C:KIVO", u"Not whole: C:KIVO"},
      {u"C:\\bad|name", u"C:\\bad|name holds |"},
      {u"C:\\what?", u"C:\\what? holds ?"},
      {u"Q:\\x", u"No drive Q:"},
  };
  for (const TCheck& c : checks) {
    SCOPED_TRACE(zel::ToUtf8(c.Typed));
    edit->SetText(c.Typed);
    EXPECT_TRUE(page->CanGoNext());
    EXPECT_EQ(setup.CheckFolder(), c.Message);
  }
  // The space: what the product's files need, beside what drive C: has free.
  edit->SetText(u"C:\\Typed\\KIVO");
  EXPECT_EQ(setup.SpaceText().rfind(u"Need ", 0), 0u) << zel::ToUtf8(setup.SpaceText());
  EXPECT_NE(setup.SpaceText().find(u" free on C:"), String::npos) << zel::ToUtf8(setup.SpaceText());
  edit->SetText(u"Q:\\x");
  EXPECT_EQ(setup.SpaceText().find(u"free"), String::npos) << "no free space for a drive that is not there";

  // A language file without the words: the page gives the reason in English.
  FInstaller->Resources().LanguageTexts().DeleteKey(u"PageSetup", u"E1");
  edit->SetText(u"D:\\");
  ASSERT_FALSE(setup.Warnings().empty());
  EXPECT_NE(setup.Warnings().back().find(u"it is the root of a drive"), String::npos);
  EXPECT_GT(TestProduct.LoadInstalledConfigCalls, loads);  // each folder's configuration is read
}

TEST_F(ProductPages, PortableUnderProgramFilesMovesToTheDesktopAndBack) {
  const String programFiles = FInstaller->Resources().ProgramFilesFolder() + u"KIVO\\";
  FInstaller->SetDestPath(programFiles);
  auto page = PageClassOf<TInstallerPageSetup>().Create();
  page->Prepare();
  auto* portable = Named<zel::TZELRadioButton>(*page, u"CB3");
  auto* standard = Named<zel::TZELRadioButton>(*page, u"CB2");
  const String desktop = FInstaller->ProductInfo().GetDefaultPortablePath();
  // The two radio buttons are one group and one tab stop: the chosen one.
  auto tabStop = [](zel::TZELControl* control) {
    return (::GetWindowLongPtrW(control->Handle(), GWL_STYLE) & WS_TABSTOP) != 0;
  };
  EXPECT_TRUE(::GetWindowLongPtrW(portable->Handle(), GWL_STYLE) & WS_GROUP);
  EXPECT_FALSE(::GetWindowLongPtrW(standard->Handle(), GWL_STYLE) & WS_GROUP);
  Choose(portable);
  EXPECT_EQ(FInstaller->DestPath(), desktop);
  EXPECT_TRUE(Flag(TInstallerFlag::Portable));
  EXPECT_TRUE(portable->Checked());
  EXPECT_TRUE(tabStop(portable) && !tabStop(standard));
  Choose(standard);
  EXPECT_EQ(FInstaller->DestPath(), TestProduct.DefaultPath);
  EXPECT_FALSE(Flag(TInstallerFlag::Portable));
  EXPECT_TRUE(tabStop(standard) && !tabStop(portable));
  // Elsewhere the folder stays in both directions.
  const String other = zel::IncludeTrailingBackslash(ScratchDir(u"ProductPages-portable"));
  FInstaller->SetDestPath(other);
  Choose(portable);
  EXPECT_EQ(FInstaller->DestPath(), other);
  EXPECT_TRUE(Flag(TInstallerFlag::Portable));
  Choose(standard);
  EXPECT_EQ(FInstaller->DestPath(), other);
}

TEST_F(ProductPages, IntegrationPageReadsWithDefaultsAndWritesAllOnAClick) {
  auto page = PageClassOf<TInstallerPageIntegration>().Create();
  EXPECT_TRUE(page->IsAvailable());
  FInstaller->Options().WriteBool(u"Integration", u"AssociateWithFiles", false);  // the installed copy's choice
  page->Prepare();
  EXPECT_EQ(FInstaller->Options().ReadSectionText(u"Integration"), u"AssociateWithFiles=0");  // Prepare writes nothing
  struct TBox {
    const char16_t* Key;
    const char16_t* Option;
    bool Ticked;
  } boxes[] = {{u"CB1", u"ShortcutDesktop", true},
               {u"CB2", u"ShortcutStartMenu", true},
               {u"CB4", u"IntegrateToWindows", true},
               {u"CB3", u"AssociateWithFiles", false},
               {u"CB5", u"RegisterContextMenu", true}};
  for (const TBox& b : boxes)
    EXPECT_EQ(Named<zel::TZELCheckBox>(*page, b.Key)->Checked(), b.Ticked) << zel::ToUtf8(b.Key);
  EXPECT_EQ(Named<zel::TZELCheckBox>(*page, u"CB1")->Caption(), u"Desktop");
  Click(Named<zel::TZELCheckBox>(*page, u"CB5"));
  for (const TBox& b : boxes)
    EXPECT_EQ(FInstaller->Options().ReadString(u"Integration", b.Option, u"missing"),
              b.Key == String(u"CB5") ? u"0" : (b.Ticked ? u"1" : u"0"))
        << zel::ToUtf8(b.Option);

  // Portable: ticked by default only where the options say so; the page is skipped.
  FInstaller->Options().EraseSection(u"Integration");
  FInstaller->SetDestPath(ScratchDir(u"ProductPages-integration"));
  FInstaller->SetFlag(TInstallerFlag::Portable, true);
  ASSERT_TRUE(Flag(TInstallerFlag::Portable));
  EXPECT_FALSE(page->IsAvailable());
  page->Prepare();
  EXPECT_FALSE(Named<zel::TZELCheckBox>(*page, u"CB1")->Checked());
  FInstaller->SetFlag(TInstallerFlag::Portable, false);
  TestProduct.CanUpdate = true;
  FInstaller->SetFlag(TInstallerFlag::Update, true);
  EXPECT_FALSE(page->IsAvailable());
}

TEST_F(ProductPages, AddonsPageTextsPictureAndOptions) {
  auto page = PageClassOf<TInstallerPageAddons>().Create();
  auto& addons = dynamic_cast<TInstallerPageAddons&>(*page);
  EXPECT_EQ(addons.Text1(), u"More: <a href=\"https://kivo.example/addons/\">https://kivo.example/addons/</a>");
  EXPECT_EQ(addons.Text2(), u"Accept the <a href=\"https://kivo.example/l\">licence</a> and the policy.");
  EXPECT_FALSE(FInstaller->Options().SectionExists(u"Common"));
  FInstaller->Options().WriteBool(u"Common", u"AddonsShortcuts", false);
  page->Prepare();  // ticks from the options (default true) and writes all three
  EXPECT_EQ(FInstaller->Options().ReadString(u"Common", u"AddonsViewer", u""), u"1");
  EXPECT_EQ(FInstaller->Options().ReadString(u"Common", u"AddonsExtensions", u""), u"1");
  EXPECT_EQ(FInstaller->Options().ReadString(u"Common", u"AddonsShortcuts", u""), u"0");
  Click(Named<zel::TZELCheckBox>(*page, u"CB2"));
  EXPECT_EQ(FInstaller->Options().ReadString(u"Common", u"AddonsExtensions", u""), u"0");
  EXPECT_FALSE(Named<zel::TZELCheckBox>(*page, u"CB3")->Checked());
}

TEST(ProductPagesMissing, AddonsPageWithoutItsFilesFailsWithTheMissingFile) {
  zel::Application::Initialize();
  TTestInstallerEnvironment environment(PagesSetup(false));
  TInstaller installer(u"");
  ChooseLanguage(installer.Resources(), false);
  try {
    PageClassOf<TInstallerPageAddons>().Create();
    FAIL() << "no error";
  } catch (const zel::Exception& e) {
    EXPECT_NE(e.Message().find(u"addons.ini"), String::npos) << zel::ToUtf8(e.Message());
  }
}

TEST_F(ProductPages, UninstallOptionsWrittenOnClickOnly) {
  auto page = PageClassOf<TInstallerPageUninstallParams>().Create();
  page->Prepare();
  EXPECT_FALSE(Named<zel::TZELCheckBox>(*page, u"CB1")->Checked());
  EXPECT_FALSE(Named<zel::TZELCheckBox>(*page, u"CB2")->Checked());
  EXPECT_FALSE(FInstaller->Options().SectionExists(u"Common"));
  // The page names the folder that goes.
  FInstaller->SetDestPath(u"C:\\KIVO-Gone");
  page->Prepare();
  bool named = false;
  for (const auto& control : page->Controls()) named = named || control->Caption() == u"Removes C:\\KIVO-Gone";
  EXPECT_TRUE(named);
  // The user's data is asked about once more: Cancel unticks the box again.
  {
    TBoxAnswer answer(IDCANCEL);
    Click(Named<zel::TZELCheckBox>(*page, u"CB2"));
    EXPECT_TRUE(answer.Asked);
  }
  EXPECT_FALSE(Named<zel::TZELCheckBox>(*page, u"CB2")->Checked());
  EXPECT_EQ(FInstaller->Options().ReadSectionText(u"Common"), u"RemoveBackups=0\r\nRemoveContent=0");
  {
    TBoxAnswer answer(IDOK);
    Click(Named<zel::TZELCheckBox>(*page, u"CB2"));
    EXPECT_TRUE(answer.Asked);
  }
  EXPECT_EQ(FInstaller->Options().ReadSectionText(u"Common"), u"RemoveBackups=0\r\nRemoveContent=1");
  Click(Named<zel::TZELCheckBox>(*page, u"CB1"));
  page->Prepare();  // back on the page: the choices as made
  EXPECT_TRUE(Named<zel::TZELCheckBox>(*page, u"CB1")->Checked());
  EXPECT_TRUE(Named<zel::TZELCheckBox>(*page, u"CB2")->Checked());
}

TEST(ProductPageList, PagesForEachKindOfRun) {
  zel::Application::Initialize();
  // English with a language id nobody has, so that Russian with the user's id is chosen.
  auto withRussian = [](TMembers setup) {
    std::string& english = setup[1].second;
    english.replace(english.find("LangId=1033"), 11, "LangId=4095");
    setup.push_back({u"Russian.lng", "[File]\r\nName=Russian\r\nLangId=" +
                                         std::to_string(::GetUserDefaultUILanguage()) + "\r\nFamily=RU\r\n"});
    return setup;
  };
  const TMembers russian = withRussian(PagesSetup());
  auto pages = [](const TMembers& setup, const TMembers& product, const String& params) {
    TTestInstallerEnvironment environment(setup, product);
    RegisterProductKIVO();
    TInstaller installer(params);
    ChooseLanguage(installer.Resources(), false);
    std::string names;
    installer.ProductInfo().PopulatePages([&](const TInstallerPageClass& page) {
      names += (names.empty() ? "" : " ") + std::string(page.Name).substr(std::string("TInstallerPage").size());
    });
    return names;
  };
  const TMembers uninstallData{{u"Uninstall.ini", "[Uninstall]\r\nCount=0\r\n"}};
  EXPECT_EQ(pages(PagesSetup(), {}, u""), "Welcome License Setup Integration ReadyToInstall");
  EXPECT_EQ(pages(russian, {}, u""), "Welcome License Setup Addons Integration ReadyToInstall");
  EXPECT_EQ(pages(russian, {}, u"/AUTO=C:\\KIVO-Auto"), "Welcome License Setup Integration ReadyToInstall");
  // A vendor's setup without addons.ini offers none.
  EXPECT_EQ(pages(withRussian(PagesSetup(false)), {}, u""), "Welcome License Setup Integration ReadyToInstall");
  EXPECT_EQ(pages(PagesSetup(), uninstallData, u""), "UninstallParams");
  EXPECT_EQ(pages(russian, uninstallData, u"/AUTO"), "UninstallParams");
}
