#include "ui/InstallerForm.h"

#include <objidl.h>
#include <gdiplus.h>

#include "core/RunLog.h"
#include "core/SpawnService.h"
#include "ui/Palette.h"
#include "ui/toolkit/Application.h"
#include "ui/toolkit/Dialogs.h"

namespace kivo {

using zel::String;

// --- TInstallerFormViewInfo

TInstallerFormViewInfo::TInstallerFormViewInfo(TInstallerForm& form)
    : FForm(form),
      FHeader(Installer->Resources(), u"header.png"),
      FHeaderDark(Installer->Resources(), u"header_dark.png") {}

TInstallerFormViewInfo::~TInstallerFormViewInfo() = default;

TRect TInstallerFormViewInfo::Client() const {
  RECT client{};
  ::GetClientRect(FForm.Handle(), &client);
  return zel::FromRECT(client);
}

TRect TInstallerFormViewInfo::GetPageBounds(bool fullScreen) const {
  return PageBounds(Client(), fullScreen, FForm.Scale());
}
TRect TInstallerFormViewInfo::GetHeaderBounds() const { return HeaderBounds(Client(), FForm.Scale()); }
TRect TInstallerFormViewInfo::GetProgressBounds() const { return ProgressBounds(Client(), FForm.Scale()); }
TRect TInstallerFormViewInfo::GetFooterBounds() const { return FooterBounds(Client(), FForm.Scale()); }
TRect TInstallerFormViewInfo::GetHeaderTextBounds() const { return HeaderTextBounds(Client(), FForm.Scale()); }

Gdiplus::Image* TInstallerFormViewInfo::HeaderImage() const {
  const TScaledPicture& picture = zel::IsDarkMode() && !zel::IsHighContrast() ? FHeaderDark : FHeader;
  return picture.For(FForm.Scale());
}

void TInstallerFormViewInfo::Draw(zel::TZELCanvas& canvas) {
  const TScale& scale = FForm.Scale();
  canvas.FillRect(Client(), Palette.Background);
  const TRect footer = GetFooterBounds();
  canvas.FillRect(footer, Palette.Footer);
  canvas.FillRect(TRect{footer.Left, footer.Top, footer.Right, footer.Top + 1}, Palette.Footer);
  canvas.FillRect(TRect{footer.Left, footer.Top + 1, footer.Right, footer.Top + 2}, Palette.FooterLine);

  const TRect header = GetHeaderBounds();
  canvas.DrawImage(HeaderImage(), header);
  canvas.FillRect(TRect{header.Left, header.Bottom - scale.Apply(1), header.Right, header.Bottom}, Palette.Accent);

  TInstallerPage* page = FForm.ActiveInstallerPage();
  if (!page) return;
  const TRect text = GetHeaderTextBounds();
  canvas.SetFont(zel::GetFont(zel::TFontStyle{11, false}, FForm.Dpi()));
  const SIZE title = canvas.TextExtent(page->Title());
  canvas.DrawText(page->Title(), TRect{text.Left, text.Top, text.Right, text.Top + title.cy}, Palette.Text, DT_RIGHT);
  canvas.SetFont(zel::GetFont(zel::TFontStyle{8, false}, FForm.Dpi()));
  const SIZE description = canvas.TextExtent(page->Description());
  canvas.DrawText(page->Description(), TRect{text.Left, text.Bottom - description.cy, text.Right, text.Bottom},
                  Palette.Text, DT_RIGHT);
}

// --- TInstallerProgressViewInfo

void TInstallerProgressViewInfo::Calculate(const TRect& bounds) {
  FLayout.Calculate(bounds, static_cast<int>(FForm.Pages().Count()), FForm.Scale());
}

void TInstallerProgressViewInfo::Draw(zel::TZELCanvas& canvas, TInstallerCustomPage* activePage) {
  canvas.FillRect(FLayout.Bounds(), Palette.StripBackground);
  const int index = FForm.Pages().IndexOf(activePage);
  if (index < 0) return;
  for (const TRect& dot : FLayout.Dots(index)) canvas.FillRect(dot, Palette.ProgressDots);
  canvas.FillRect(FLayout.Fill(index, activePage->GetProgress()), Palette.ProgressFill);
}

// --- TInstallerForm

TInstallerForm::TInstallerForm() : zel::TZELForm(L"TInstallerForm", 640, 480) {
  SetCaption(u"InstallerForm");
  lbVerInfo = Add<zel::TZELLabel>();
  lbVerInfo->SetBounds(12, 447, 257, 25);
  bBack = Add<zel::TZELButton>();
  bBack->SetBounds(384, 447, 121, 25);
  bBack->OnClick = [this] { bBackClick(); };
  bNext = Add<zel::TZELButton>();
  bNext->SetBounds(511, 447, 121, 25);
  bNext->OnClick = [this] { bNextClick(); };
  SetDefaultButton(bNext);
  ::SendMessageW(bNext->Handle(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);

  FPages = std::make_unique<TInstallerPageList>();
  FProgressView = std::make_unique<TInstallerProgressViewInfo>(*this);
  FFormView = std::make_unique<TInstallerFormViewInfo>(*this);

  lbVerInfo->SetTextColor(Palette.FooterText);
  lbVerInfo->SetBackColor(Palette.Footer);

  // Before any page exists: the window is always the first listener.
  Installer->AddListener(this);

  CreatePages(*FPages);
  Localize();
  UpdateButtons();
  SetActivePage(FPages->First());
}

TInstallerForm::~TInstallerForm() {
  try {
    Installer->RunFinishActions();
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Finish actions failed: " + e.Message());
  } catch (...) {
    RunLog().Log(u"Finish actions failed");
  }
  Installer->RemoveListener(this);
  FActivePage = nullptr;
  FProgressView.reset();
  FFormView.reset();
  FPages.reset();
}

void TInstallerForm::CreatePages(TInstallerPageList& pages) {
  if (!Installer->HasFlag(TInstallerFlag::Auto))
    Installer->ProductInfo().PopulatePages([&](const TInstallerPageClass& pageClass) {
      if (pageClass.Create) pages.Add(pageClass);
    });
  if (Installer->Mode() == TInstallerMode::Uninstall) {
    pages.Add(PageClassOf<TInstallerPageUninstall>());
    pages.Add(PageClassOf<TInstallerPageUninstallFinish>());
  } else {
    pages.Add(PageClassOf<TInstallerPageInstall>());
    pages.Add(PageClassOf<TInstallerPageFinish>());
  }
}

void TInstallerForm::Localize() {
  TInstallerResources& resources = Installer->Resources();
  // The uninstaller names itself as such, not as the setup.
  const bool uninstall = Installer->Mode() == TInstallerMode::Uninstall;
  SetCaption(resources.GetText(u"Common", uninstall ? u"CaptionUninstall" : u"Caption"));
  bBack->SetCaption(resources.GetText(u"Common", u"bBack"));
  bNext->SetCaption(resources.GetText(u"Common", u"bNext"));
  zel::TFolderBrowserTexts& browser = zel::FolderBrowserTexts();
  browser.Caption = resources.GetText(u"Common", u"lBrowse");
  browser.NewFolder = resources.GetText(u"Common", u"lNewFolder");
  browser.Cancel = resources.GetText(u"Common", u"lCancel");
  browser.Ok = resources.GetText(u"Common", u"lOk");
  // A language file without a caption keeps the English one rather than a blank button.
  zel::TMessageBoxTexts& box = zel::MessageBoxTexts();
  auto boxText = [&](String& caption, const char16_t* key) {
    if (String text = resources.GetText(u"Common", key); !text.empty()) caption = text;
  };
  boxText(box.Ok, u"lOk");
  boxText(box.Cancel, u"lCancel");
  boxText(box.Abort, u"lAbort");
  boxText(box.Retry, u"lRetry");
  boxText(box.Ignore, u"lIgnore");
  lbVerInfo->SetCaption(Installer->ProductInfo().GetFullVersion());
}

void TInstallerForm::UpdateButtons() {
  TInstallerPageList& pages = *FPages;
  bBack->SetVisible(pages.CanGoBack(FActivePage));
  bNext->SetEnabled(pages.CanGoNext(FActivePage) || (FActivePage && FActivePage == pages.Last()));
  TInstallerCustomPage* next = FActivePage ? pages.NextAvailable(FActivePage) : nullptr;
  const TNextPageKind kind = next ? next->Kind() : TNextPageKind::None;
  bNext->SetCaption(Installer->Resources().GetText(u"Common", NextButtonKey(kind)));
  if (Installer->State() == 2) ::EnableMenuItem(::GetSystemMenu(Handle(), FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
  UpdateProgressBounds();
}

void TInstallerForm::SetActivePage(TInstallerCustomPage* page) {
  if (page == FActivePage) return;
  if (FActivePage) FActivePage->SetVisible(false);
  FActivePage = nullptr;
  if (page) {
    FActivePage = page;
    page->SetParentWindow(*this);
    page->SetBoundsPixels(FFormView->GetPageBounds(page->IsFullScreen()));
    RunLog().Log(u"Wizard: page " + page->Name());
    page->Prepare();
    page->SetVisible(true);
    page->Shown();
  }
  UpdateButtons();
  HWND focus = ::GetFocus();
  if ((!focus || !::IsChild(Handle(), focus) || !::IsWindowVisible(focus)) && bNext->Enabled()) bNext->SetFocus();
  Invalidate();
}

void TInstallerForm::UpdateProgressBounds() { FProgressView->Calculate(FFormView->GetProgressBounds()); }

void TInstallerForm::bBackClick() {
  if (FPages->CanGoBack(FActivePage)) SetActivePage(FPages->PrevAvailable(FActivePage));
}

void TInstallerForm::bNextClick() {
  if (FPages->CanGoNext(FActivePage)) {
    if (!FActivePage->ConfirmNext()) return;
    SetActivePage(FPages->NextAvailable(FActivePage));
  } else if (FActivePage && FActivePage == FPages->Last()) Close();
}

void TInstallerForm::Notify(int code, intptr_t data) {
  zel::Application::TNotificationScope scope;
  switch (code) {
    case NotifyEnded:
      if (FStopping || (Installer->HasFlag(TInstallerFlag::Auto) && !Installer->HasErrors())) Close();
      else bNextClick();
      break;
    case NotifyPageState: UpdateButtons(); break;
    case NotifyRepaint: {
      const RECT strip = zel::ToRECT(FFormView->GetProgressBounds());
      ::InvalidateRect(Handle(), &strip, FALSE);
      break;
    }
  }
}

bool TInstallerForm::CloseQuery() {
  if (Installer->State() == 2) return true;
  // Asked once: the window closes by itself when the worker has stopped.
  if (FStopping) return false;
  const bool uninstall = Installer->Mode() == TInstallerMode::Uninstall;
  if (!zel::AskOkCancel(Handle(), Installer->Resources().GetText(u"Common", uninstall ? u"QMUninstall" : u"QM"),
                        Caption()))
    return false;
  if (Installer->State() != 1) return true;
  // The running action is told and ends, no further one runs. The window does not wait
  // here: it keeps painting and answering, and the ended event closes it.
  FStopping = true;
  RunLog().Log(u"Wizard: the user cancelled; stopping the run");
  if (auto* page = dynamic_cast<TInstallerPageInstall*>(FActivePage)) page->ShowStopping();
  Installer->RequestStop();
  return false;
}

void TInstallerForm::ThemeChangedFlags(int flags) {
  zel::TZELForm::ThemeChangedFlags(flags);
  lbVerInfo->SetTextColor(Palette.FooterText);
  lbVerInfo->SetBackColor(Palette.Footer);
  for (size_t i = 0; i < FPages->Count(); ++i) FPages->Get(i)->ThemeChanged();
}

void TInstallerForm::ScaleChanged(const TScale& scale) {
  zel::TZELForm::ScaleChanged(scale);
  for (size_t i = 0; i < FPages->Count(); ++i) {
    TInstallerCustomPage* page = FPages->Get(i);
    page->SetParentWindow(*this);  // rescales the page to the window's new scale
    page->SetBoundsPixels(FFormView->GetPageBounds(page->IsFullScreen()));
  }
  UpdateProgressBounds();
  Invalidate();
}

void TInstallerForm::Paint(zel::TZELCanvas& canvas, const TRect& client) {
  FFormView->Draw(canvas);
  FProgressView->Draw(canvas, FActivePage);
}

LRESULT TInstallerForm::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = zel::TZELForm::WindowProc(message, wParam, lParam);
  if (message == WM_PAINT && !FPainted) {
    FPainted = true;
    RunLog().Log(u"Wizard: first page painted (" + (FActivePage ? FActivePage->Name() : String()) + u")");
  }
  return result;
}

// --- Start-up

void InitializeUserInterface() {
  zel::Application::Initialize();
  zel::SetColorScheme(UpdatePalette);
  zel::UpdateSkin();
}

void RunInstallerWizard(TInstaller& installer) {
  InitializeUserInterface();
  zel::Application::SetLinkHandler([](const String& url) {
    RunLog().Log(u"Wizard: link " + url);
    TInstallerSpawnService::Spawn(url);
  });
  zel::SetErrorHandler([](const String& message) {
    RunLog().Log(u"Wizard error: " + message);
    zel::ShowErrorBox(message, u"Setup");
  });
  auto form = std::make_unique<TInstallerForm>();
  form->Show();
  zel::Application::Run(*form);
  form.reset();
}

}  // namespace kivo
