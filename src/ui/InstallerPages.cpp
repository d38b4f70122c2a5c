#include "ui/InstallerPages.h"

#include <algorithm>

#include <objidl.h>
#include <gdiplus.h>

#include "core/InstallerAction.h"
#include "core/InstallerThread.h"
#include "core/RunLog.h"
#include "core/SummaryBuilder.h"
#include "ui/Palette.h"
#include "ui/toolkit/Application.h"
#include "ui/toolkit/Dialogs.h"
#include "ui/toolkit/LinkMarkup.h"

namespace kivo {

using zel::String;
using zel::StringView;

// --- TInstallerCustomPage

TInstallerCustomPage::TInstallerCustomPage(const char* className)
    : zel::TZELPanel(L"TInstallerPage"), FClassName(className) {
  const std::string name(className);
  SetName(zel::Ascii(name.size() > 10 ? name.substr(10) : name));
}

TInstallerCustomPage::~TInstallerCustomPage() = default;

// --- TInstallerPage

void TInstallerPage::Construct() {
  CreateControls();
  Localize();
  FitCaptions();
}

void TInstallerPage::FitCaptions() {
  // The page's width in design units less the right margin the product pages keep, and
  // the lowest a text may reach.
  constexpr int kMaxRight = 620;
  constexpr int kMaxBottom = 360;
  bool changed = false;
  for (const auto& control : Controls()) {
    if (control->Align() != zel::TAlign::None || !control->HasCaption()) continue;
    const String caption = control->Caption();
    if (caption.empty()) continue;
    const zel::TRect d = control->DesignBounds();
    auto* label = dynamic_cast<zel::TZELLabel*>(control.get());
    if (label && label->WordWrap()) {
      // Wrapped: as high as the text, down to the next control below it; wider when
      // the text does not fit that high at its own width.
      int limit = kMaxBottom;
      for (const auto& other : Controls()) {
        const zel::TRect& o = other->DesignBounds();
        if (other.get() != control.get() && other->Align() == zel::TAlign::None && o.Top > d.Top && o.Left < d.Right &&
            o.Right > d.Left)
          limit = std::min(limit, o.Top - 2);
      }
      const int available = limit - d.Top;
      auto height = [&](int width) {
        return zel::MeasureText(caption, control->Font(), 96, DT_NOPREFIX, width).cy + 2;
      };
      int width = d.Width();
      int needed = height(width);
      if (needed <= d.Height()) continue;
      if (needed > available && kMaxRight - d.Left > width && height(kMaxRight - d.Left) < needed) {
        width = kMaxRight - d.Left;
        needed = height(width);
      }
      // Never lower than designed: some texts are laid out to run past the control below.
      const int fitted = std::max(d.Height(), std::min(available, needed));
      if (width == d.Width() && fitted == d.Height()) continue;
      control->SetBounds(d.Left, d.Top, width, fitted);
      changed = true;
      continue;
    }
    int needed = 0;
    if (dynamic_cast<zel::TZELCheckBox*>(control.get()))
      needed = 13 + 6 + zel::MeasureText(caption, control->Font(), 96).cx;
    else if (label) needed = zel::MeasureText(caption, control->Font(), 96, DT_NOPREFIX).cx;
    else continue;
    // Text grows a little faster than the scale at larger sizes (hinting): some room for it.
    needed += needed / 25 + 2;
    const int width = zel::FittedWidth(d.Left, d.Width(), needed, kMaxRight);
    if (width == d.Width()) continue;
    control->SetBounds(d.Left, d.Top, width, d.Height());
    changed = true;
  }
  if (changed) Realign();
}

String TInstallerPage::GetText(StringView key) const { return Resources().GetText(Name(), key); }

void TInstallerPage::Localize() {
  FTitle = GetText(u"Title");
  FDescription = GetText(u"Description");
  for (const auto& control : Controls())
    if (!control->Name().empty() && control->HasCaption()) control->SetCaption(GetText(control->Name()));
}

zel::TZELLabel* TInstallerPage::AddLabel(int left, int top, int width, int height, StringView key, bool wrap) {
  auto* label = AddControl<zel::TZELLabel>(left, top, width, height, key);
  label->SetWordWrap(wrap);
  return label;
}

zel::TZELLabel* TInstallerPage::AddHeaderLabel(int left, int top, int width, int height, StringView key) {
  auto* label = AddLabel(left, top, width, height, key, false);
  label->SetFont(zel::TFontStyle{11, false});
  return label;
}

zel::TZELCheckBox* TInstallerPage::AddCheckBox(int left, int top, int width, int height, StringView key,
                                               std::function<void()> onClick) {
  auto* box = AddControl<zel::TZELCheckBox>(left, top, width, height, key);
  box->OnClick = std::move(onClick);
  return box;
}

zel::TZELRadioButton* TInstallerPage::AddRadioBox(int left, int top, int width, int height, StringView key,
                                                  std::function<void()> onClick) {
  auto* radio = AddControl<zel::TZELRadioButton>(left, top, width, height, key);
  radio->OnClick = std::move(onClick);
  return radio;
}

void TInstallerPage::NotifyStateChanged() { Installer->Notify(NotifyPageState, 0); }

// --- TInstallerPageFullScreen

TInstallerPageFullScreen::TInstallerPageFullScreen(const char* className) : TInstallerPage(className) {}

TInstallerPageFullScreen::~TInstallerPageFullScreen() = default;

void TInstallerPageFullScreen::CreateControls() {
  FLight = std::make_unique<TScaledPicture>(Resources(), u"wizard_light.png");
  FDark = std::make_unique<TScaledPicture>(Resources(), u"wizard_dark.png");
  L2 = AddLabel(210, 61, 400, 240, u"L2", true);
  L1 = AddLabel(210, 22, 400, 50, u"L1", true);
  L1->SetFont(zel::TFontStyle{11, false});
}

void TInstallerPageFullScreen::Paint(zel::TZELCanvas& canvas, const zel::TRect& client) {
  canvas.FillRect(client, Palette.Background);
  const TScaledPicture* picture = zel::IsDarkMode() ? FDark.get() : FLight.get();
  if (picture && *picture) canvas.DrawImage(picture->For(Scale()), Scale().Bounds(0, 0, 188, 435));
}

// --- TInstallerPageWelcome

void TInstallerPageWelcome::CreateControls() {
  TInstallerPageFullScreen::CreateControls();
  FWarning = AddLabel(210, 180, 400, 40, u"", true);
  FWarning->SetTextRole(zel::TTextRole::Warning);
}

void TInstallerPageWelcome::Localize() {
  TInstallerPageFullScreen::Localize();
  FWarning->SetCaption(Resources().GetText(u"Common", u"E6"));
}

// --- TInstallerPageLicense

void TInstallerPageLicense::CreateControls() {
  FViewer = Add<zel::TZELRichViewer>();
  FViewer->SetAlign(zel::TAlign::Client, {28, 22, 28, kBlockMargin});
  FAccept = AddCheckBox(0, 0, 0, 16, u"L1", [this] { AcceptClick(); });
  FAccept->SetAlign(zel::TAlign::Bottom, {28, kBlockMargin, 28, 22});
  Realign();
}

bool TInstallerPageLicense::CanGoNext() { return FAccept->Checked(); }

void TInstallerPageLicense::Prepare() {
  std::unique_ptr<zel::TMemoryStream> licence = Resources().GetLicense();
  if (licence) FViewer->LoadFromStream(licence.get());
}

void TInstallerPageLicense::Shown() {
  if (!FAccept->Checked()) FViewer->SetFocus();
}

void TInstallerPageLicense::AcceptClick() {
  if (FAccept->Checked())
    zel::ShowMessageBox(::GetAncestor(Handle(), GA_ROOT), Resources().GetText(u"Common", u"E6"),
                        Resources().GetText(u"Common", u"Caption"), zel::TMessageKind::Warning);
  NotifyStateChanged();
}

// --- TInstallerPageReadyToInstall

void TInstallerPageReadyToInstall::CreateControls() {
  FViewer = Add<zel::TZELRichViewer>();
  // Read-only but enabled: a long summary is scrolled with the wheel and the keys.
  FViewer->SetAlign(zel::TAlign::Client, {28, 22, 28, 22});
  Realign();
}

void TInstallerPageReadyToInstall::Prepare() {
  TInstallerSummaryBuilder builder(
      [](StringView section, StringView key) { return Installer->Resources().GetText(section, key); });
  Installer->ProductInfo().PopulateActions([&](const TInstallerActionClass& actionClass) {
    std::unique_ptr<TInstallerAction> action = actionClass.Create();
    action->BuildSummary(builder);
  });
  FSummary = builder.ToString();
  FViewer->SetText(FSummary);
}

// --- TInstallerPageInstall

TInstallerPageInstall::TInstallerPageInstall(const char* className) : TInstallerPage(className) {
  // After the window, which registered first: the page hears every event before it.
  Installer->AddListener(this);
}

TInstallerPageInstall::~TInstallerPageInstall() {
  if (Installer) Installer->RemoveListener(this);
}

void TInstallerPageInstall::CreateControls() {
  // The status label first: screen readers name the bars after the text before them.
  FStatus = AddLabel(30, 16, 580, 18, u"", false);
  FStatus->SetFont(zel::TFontStyle{8, false});
  FCurrent = AddControl<zel::TZELProgressBar>(30, 40, 580, 18, u"");
  FOverall = AddControl<zel::TZELProgressBar>(30, 65, 580, 18, u"");
}

int TInstallerPageInstall::GetProgress() { return FOverall->Position(); }

void TInstallerPageInstall::Prepare() {
  FStatus->SetCaption(GetText(u"L1"));
  Installer->Start(false);
}

void TInstallerPageInstall::Notify(int code, intptr_t data) {
  zel::Application::TNotificationScope scope;
  switch (code) {
    case NotifyEnded: FEnded = true; break;
    case NotifyProgress: {
      const int current = static_cast<int>(data & 0xFFFF);
      const int overall = static_cast<int>((data >> 16) & 0xFFFF);
      if (FCurrent->Position() == current && FOverall->Position() == overall) return;
      FCurrent->SetPosition(current);
      FOverall->SetPosition(overall);
      zel::Application::ProcessMessages();
      break;
    }
    case NotifyStatus:
      if (FStopping) break;
      FStatus->SetCaption(reinterpret_cast<const char16_t*>(data));
      zel::Application::ProcessMessages();
      break;
  }
}

void TInstallerPageInstall::ShowStopping() {
  FStopping = true;
  FStatus->SetCaption(Resources().GetText(u"Common", u"Stopping"));
}

// --- TInstallerPageCustomFinish

void TInstallerPageCustomFinish::CreateControls() {
  TInstallerPageFullScreen::CreateControls();
  FErrors = Add<zel::TZELMemo>();
  FErrors->SetAlign(zel::TAlign::Client, {210, 120, 20, kBlockMargin});
  FErrors->SetVisible(false);
  Realign();
}

void TInstallerPageCustomFinish::Prepare() {
  const bool errors = Installer->HasErrors();
  FErrors->SetVisible(errors);
  if (!errors) return;
  L1->SetTextRole(zel::TTextRole::Warning);
  L1->SetCaption(GetText(u"E1"));
  // The user reads the messages, what to do and where the details are; the call stacks
  // are for whoever reads the log.
  std::vector<String> lines;
  for (size_t i = 0; i < Installer->Errors().Count(); ++i) lines.push_back(ErrorEntryMessage(Installer->Errors()[i]));
  const String undone = RunUndoneText();
  if (!undone.empty()) {
    lines.push_back(String());
    lines.push_back(undone);
  }
  lines.push_back(String());
  lines.push_back(Resources().GetText(u"Common", u"FailedHelp"));
  const String log = FailureLogPath();
  if (!log.empty()) {
    lines.push_back(String());
    lines.push_back(zel::Format(Resources().GetText(u"Common", u"FailedLog"), log));
  }
  FErrors->SetLines(lines);
  L2->SetCaption(GetText(u"E2"));
}

String TInstallerPageCustomFinish::FailureLogPath() {
  if (RunLog().IsOpen()) return RunLog().Path();
  // A run without "/LOG" keeps no log; its failure gets one, with the full error entries.
  if (!RunLog().Open(TRunLog::DefaultPath())) return {};
  RunLog().Log(u"The run failed; its errors:");
  for (size_t i = 0; i < Installer->Errors().Count(); ++i) RunLog().Log(u"Error: " + Installer->Errors()[i]);
  return RunLog().Path();
}

// --- TInstallerPageFinish

void TInstallerPageFinish::CreateControls() {
  TInstallerPageCustomFinish::CreateControls();
  const TInstallerScriptGroup& actions = Resources().Script().Actions;
  for (size_t i = 0; i < actions.Count(); ++i) {
    const int top = 120 + 24 * static_cast<int>(i);
    auto* box = AddCheckBox(210, top, 320, 17, u"CB" + zel::IntToStr(static_cast<long long>(i + 1)),
                            [this] { StoreActions(); });
    box->SetChecked(true);
    FActions.push_back(box);
  }
  // After the boxes: the tab order is the order of creation, and the link is at the bottom.
  auto* link = Add<zel::TZELLinkLabel>();
  link->SetName(u"L3");
  link->SetAutoSize(true);
  link->SetCentered(true);
  link->SetFont(zel::TFontStyle{8, false});
  link->SetUrl(Installer->ProductInfo().GetHomePage());
  // As far below the error list as any block is below the one above it.
  link->SetAlign(zel::TAlign::Bottom, {210, kBlockMargin, 20, kBlockMargin});
  Realign();
}

void TInstallerPageFinish::Prepare() {
  TInstallerPageCustomFinish::Prepare();
  // An update says so, and where the previous installation went.
  if (!ErrorsShown() && Installer->HasFlag(TInstallerFlag::Update))
    L2->SetCaption(
        zel::Format(GetText(Installer->HasFlag(TInstallerFlag::NoBackup) ? u"L2UpdateNoBackup" : u"L2Update"),
                    Installer->ProductInfo().GetVersion()));
  const TInstallerScriptGroup& actions = Resources().Script().Actions;
  for (size_t i = 0; i < FActions.size() && i < actions.Count(); ++i) {
    FActions[i]->SetCaption(GetText(actions.Items(i).GetTextOrName()));
    FActions[i]->SetVisible(!ErrorsShown());
  }
  StoreActions();
}

void TInstallerPageFinish::StoreActions() {
  const TInstallerScriptGroup& actions = Resources().Script().Actions;
  for (size_t i = 0; i < FActions.size() && i < actions.Count(); ++i)
    Options().WriteBool(u"Actions", actions.Items(i).Name, FActions[i]->Checked());
}

// --- TInstallerPageList

void TInstallerPageList::Add(const TInstallerPageClass& pageClass) { FPages.push_back(pageClass.Create()); }

void TInstallerPageList::Add(std::unique_ptr<TInstallerCustomPage> page) { FPages.push_back(std::move(page)); }

int TInstallerPageList::IndexOf(const TInstallerCustomPage* page) const {
  for (size_t i = 0; i < FPages.size(); ++i)
    if (FPages[i].get() == page) return static_cast<int>(i);
  return -1;
}

std::vector<bool> TInstallerPageList::Availability() const {
  std::vector<bool> available;
  for (const auto& page : FPages) available.push_back(page->IsAvailable());
  return available;
}

TInstallerCustomPage* TInstallerPageList::NextAvailable(const TInstallerCustomPage* page) const {
  const int index = NextAvailableIndex(Availability(), IndexOf(page));
  return index < 0 ? nullptr : FPages[static_cast<size_t>(index)].get();
}

TInstallerCustomPage* TInstallerPageList::PrevAvailable(const TInstallerCustomPage* page) const {
  const int index = IndexOf(page);
  if (index < 0) return nullptr;
  const int previous = PrevAvailableIndex(Availability(), index);
  return previous < 0 ? nullptr : FPages[static_cast<size_t>(previous)].get();
}

bool TInstallerPageList::CanGoNext(TInstallerCustomPage* active) const {
  return active && active->CanGoNext() && NextAvailable(active);
}

bool TInstallerPageList::CanGoBack(TInstallerCustomPage* active) const {
  return active && active->CanGoBack() && PrevAvailable(active);
}

}  // namespace kivo
