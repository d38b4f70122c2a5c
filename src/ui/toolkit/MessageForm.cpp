#include "ui/toolkit/MessageForm.h"

#include <algorithm>
#include <memory>

#include "ui/toolkit/Theme.h"

namespace zel {

namespace {

// Design units (pixels at 96 DPI).
constexpr int kIconLeft = 16;
constexpr int kIconSize = 32;
constexpr int kTextLeft = 60;
constexpr int kTop = 20;
constexpr int kRightMargin = 20;
constexpr int kMaxTextWidth = 420;  // longer texts wrap, as the system's boxes do
constexpr int kButtonGap = 8;
constexpr int kButtonHeight = 25;
constexpr int kButtonMinWidth = 80;
constexpr int kButtonPadding = 24;
constexpr int kButtonsMargin = 12;  // the band's padding around the buttons
constexpr int kCaptionExtra = 100;  // the title bar's icon and close box beside the caption

// The label's own flags (the measure adds its word breaks), so that what is measured is
// what is painted.
constexpr UINT kTextFlags = DT_NOPREFIX | DT_TOP | DT_LEFT;

// Text in the default font at dpi, in pixels; a wrapping width of 0 measures the longest
// of its lines unwrapped. A word longer than the width widens the result.
SIZE MeasureBoxText(StringView text, unsigned dpi, int width, UINT flags) {
  constexpr int kUnwrapped = 0x7FFF;  // wider than any screen: only the text's own lines break
  return MeasureText(text, TFontStyle{}, dpi, flags, width > 0 ? width : kUnwrapped);
}

// Pixels at dpi back to design units, rounded up so that nothing is cut.
int ToDesign(int pixels, unsigned dpi) {
  return static_cast<int>((static_cast<long long>(pixels) * 96 + dpi - 1) / dpi);
}

// The system icon at the size it is shown, not a 32-pixel one stretched (soft at 150 %
// and 200 %); LoadIconWithScaleDown exists in the common controls 6 only.
HICON LoadSystemIcon(LPCWSTR id, int size) {
  using TLoad = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
  HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
  const auto load =
      comctl ? reinterpret_cast<TLoad>(reinterpret_cast<void*>(::GetProcAddress(comctl, "LoadIconWithScaleDown")))
             : nullptr;
  HICON icon = nullptr;
  if (load && SUCCEEDED(load(nullptr, id, size, size, &icon))) return icon;
  return ::CopyIcon(::LoadIconW(nullptr, id));
}

// The windows of this thread that a box without owner blocks, as the system's
// task-modal boxes do; they are enabled again when it closes.
class TThreadWindowsDisabled {
public:
  explicit TThreadWindowsDisabled(HWND box) : FBox(box) {
    ::EnumThreadWindows(::GetCurrentThreadId(), Disable, reinterpret_cast<LPARAM>(this));
  }
  ~TThreadWindowsDisabled() {
    for (HWND window : FDisabled)
      if (::IsWindow(window)) ::EnableWindow(window, TRUE);
  }
  TThreadWindowsDisabled(const TThreadWindowsDisabled&) = delete;
  TThreadWindowsDisabled& operator=(const TThreadWindowsDisabled&) = delete;

private:
  static BOOL CALLBACK Disable(HWND window, LPARAM self) noexcept {
    auto* me = reinterpret_cast<TThreadWindowsDisabled*>(self);
    if (window != me->FBox && ::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
      ::EnableWindow(window, FALSE);
      me->FDisabled.push_back(window);
    }
    return TRUE;
  }
  HWND FBox;
  std::vector<HWND> FDisabled;
};

}  // namespace

TMessageBoxTexts& MessageBoxTexts() {
  static TMessageBoxTexts texts;
  return texts;
}

TZELMessageForm::TZELMessageForm(HWND owner, StringView text, StringView caption, TIcon icon, TButtons buttons,
                                 int defaultIndex)
    : TZELForm(L"TZELMessageForm", 300, 100), FOwner(owner ? ::GetAncestor(owner, GA_ROOT) : nullptr), FIcon(icon) {
  if (const TZELForm* form = FOwner ? TZELForm::FromHandle(FOwner) : nullptr) LimitScale(form->Scale());
  const TMessageBoxTexts& texts = MessageBoxTexts();
  switch (buttons) {
    case TButtons::Ok:
      FAnswers = {{IDOK, texts.Ok}};
      FEscapeResult = IDOK;
      break;
    case TButtons::OkCancel:
      FAnswers = {{IDOK, texts.Ok}, {IDCANCEL, texts.Cancel}};
      FEscapeResult = IDCANCEL;
      break;
    case TButtons::AbortRetryIgnore:
      FAnswers = {{IDABORT, texts.Abort}, {IDRETRY, texts.Retry}, {IDIGNORE, texts.Ignore}};
      FEscapeResult = 0;
      // No Cancel: the close box is greyed as on the system's box, and Esc does nothing.
      ::EnableMenuItem(::GetSystemMenu(Handle(), FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
      break;
  }
  FDefaultIndex = std::clamp(defaultIndex, 0, static_cast<int>(FAnswers.size()) - 1);
  SetCaption(caption);
  Layout(text, caption);
}

void TZELMessageForm::Layout(StringView text, StringView caption) {
  // Measured at the scale the box is shown at (a font's widths do not scale exactly), and
  // again when the box had to take a smaller scale to fit the work area.
  int textWidth = 0;
  int textHeight = 0;
  int buttonWidth = kButtonMinWidth;
  for (int pass = 0; pass < 3; ++pass) {
    const unsigned dpi = Dpi();
    const int natural = MeasureBoxText(text, dpi, 0, kTextFlags).cx;
    const SIZE wrapped =
        MeasureBoxText(text, dpi, std::max(1, std::min(natural, Scale().Apply(kMaxTextWidth))), kTextFlags);
    textWidth = ToDesign(wrapped.cx, dpi);
    textHeight = ToDesign(wrapped.cy, dpi);
    buttonWidth = kButtonMinWidth;
    for (const TAnswer& answer : FAnswers)
      buttonWidth = std::max(buttonWidth, ToDesign(MeasureBoxText(answer.Caption, dpi, 0, 0).cx, dpi) + kButtonPadding);
    const int buttonsWidth = static_cast<int>(FAnswers.size()) * (buttonWidth + kButtonGap) - kButtonGap;
    const int captionWidth = std::min(ToDesign(MeasureBoxText(caption, dpi, 0, DT_NOPREFIX).cx, dpi) + kCaptionExtra,
                                      kTextLeft + kMaxTextWidth + kRightMargin);
    const int width = std::max({kTextLeft + textWidth + kRightMargin, buttonsWidth + 2 * kButtonsMargin, captionWidth});
    const int content = std::max(kIconSize, textHeight);
    SetDesignClientSize(width, kTop + content + kTop + kButtonsMargin + kButtonHeight + kButtonsMargin);
    if (Dpi() == dpi) break;
  }
  // A line or two beside the icon stands centred on it, as in the system's boxes.
  const int content = std::max(kIconSize, textHeight);
  FIconTop = kTop;
  FText = Add<TZELLabel>();
  FText->SetWordWrap(true);
  FText->SetBounds(kTextLeft, kTop + (content - textHeight) / 2, textWidth, textHeight);
  FText->SetCaption(text);
  ::SetWindowLongPtrW(FText->Handle(), GWLP_ID, 0xFFFF);
  FBandTop = kTop + content + kTop;
  const int top = FBandTop + kButtonsMargin;
  int left = ClientDesignWidth() - kButtonsMargin - static_cast<int>(FAnswers.size()) * (buttonWidth + kButtonGap) +
             kButtonGap;
  for (const TAnswer& answer : FAnswers) {
    auto* button = Add<TZELButton>();
    button->SetBounds(left, top, buttonWidth, kButtonHeight);
    button->SetCaption(answer.Caption);
    ::SetWindowLongPtrW(button->Handle(), GWLP_ID, answer.Id);
    const int id = answer.Id;
    button->OnClick = [this, id] { Finish(id); };
    FButtons.push_back(button);
    left += buttonWidth + kButtonGap;
  }
  TZELButton* defaultButton = FButtons[static_cast<size_t>(FDefaultIndex)];
  SetDefaultButton(defaultButton);
  ::SendMessageW(defaultButton->Handle(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void TZELMessageForm::PlaceOverOwner(HWND owner) {
  // Centred on the owner and kept inside its monitor's work area; without an owner the
  // form already stands centred on the work area.
  RECT box{};
  ::GetWindowRect(Handle(), &box);
  const int width = box.right - box.left;
  const int height = box.bottom - box.top;
  RECT target{};
  if (!owner || !::GetWindowRect(owner, &target) || ::IsIconic(owner)) return;
  const RECT work = WorkArea(::MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY));
  int left = (target.left + target.right - width) / 2;
  int top = (target.top + target.bottom - height) / 2;
  left = std::max(static_cast<int>(work.left), std::min(left, static_cast<int>(work.right) - width));
  top = std::max(static_cast<int>(work.top), std::min(top, static_cast<int>(work.bottom) - height));
  ::SetWindowPos(Handle(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int TZELMessageForm::ShowModal() {
  FResult = 0;
  const HWND owner = FOwner;
  if (owner) ::SetWindowLongPtrW(Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
  PlaceOverOwner(owner);
  const bool ownerEnabled = owner && ::IsWindowEnabled(owner);
  if (ownerEnabled) ::EnableWindow(owner, FALSE);
  std::unique_ptr<TThreadWindowsDisabled> threadWindows;
  if (!owner) {
    threadWindows = std::make_unique<TThreadWindowsDisabled>(Handle());
    // Nothing to stand in front of: it must not open behind another program's window.
    ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  FButtons[static_cast<size_t>(FDefaultIndex)]->SetFocus();
  Show();
  MSG message;
  while (FResult == 0 && !Destroyed()) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    const bool ours = message.hwnd == Handle() || ::IsChild(Handle(), message.hwnd);
    if (ours && message.message == WM_KEYDOWN) {
      if (message.wParam == VK_ESCAPE) {
        if (FEscapeResult) Finish(FEscapeResult);
        continue;
      }
      if ((message.wParam == 'C' || message.wParam == VK_INSERT) && ::GetKeyState(VK_CONTROL) < 0) {
        CopyToClipboard();
        continue;
      }
    }
    if (::IsDialogMessageW(Handle(), &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  // The owner is enabled before the box hides, so that the system activates it and not
  // another program's window.
  if (ownerEnabled) ::EnableWindow(owner, TRUE);
  threadWindows.reset();
  if (owner) ::SetActiveWindow(owner);
  ::ShowWindow(Handle(), SW_HIDE);
  return FResult ? FResult : (FEscapeResult ? FEscapeResult : FAnswers[static_cast<size_t>(FDefaultIndex)].Id);
}

void TZELMessageForm::CopyToClipboard() const {
  // The system's boxes copy themselves in this layout; support staff ask for it.
  const String rule = u"---------------------------\r\n";
  String buttons;
  for (const TAnswer& answer : FAnswers) {
    String plain = answer.Caption;
    plain.erase(std::remove(plain.begin(), plain.end(), u'&'), plain.end());
    buttons += (buttons.empty() ? u"" : u"   ") + plain;
  }
  const String text =
      rule + Caption() + u"\r\n" + rule + FText->Caption() + u"\r\n" + rule + buttons + u"   \r\n" + rule;
  if (!::OpenClipboard(Handle())) return;  // another program holds it: nothing to copy into
  ::EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(char16_t);
  if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* target = ::GlobalLock(memory)) {
      std::copy(text.c_str(), text.c_str() + text.size() + 1, static_cast<char16_t*>(target));
      ::GlobalUnlock(memory);
      // The clipboard owns the memory from here on.
      if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
    } else {
      ::GlobalFree(memory);
    }
  }
  ::CloseClipboard();
}

bool TZELMessageForm::CloseQuery() {
  // The close box answers as Esc does; the window itself stays until ShowModal returns.
  if (FEscapeResult) Finish(FEscapeResult);
  return false;
}

void TZELMessageForm::Paint(TZELCanvas& canvas, const TRect& client) {
  canvas.FillRect(client, Skin().Window);
  // The buttons stand on a band of their own below the message, as in the system's boxes.
  canvas.FillRect(TRect{client.Left, Scale().Apply(FBandTop), client.Right, client.Bottom}, Skin().ButtonFace);
  LPCWSTR id = IDI_INFORMATION;
  switch (FIcon) {
    case TIcon::Information: id = IDI_INFORMATION; break;
    case TIcon::Warning: id = IDI_WARNING; break;
    case TIcon::Error: id = IDI_ERROR; break;
    case TIcon::Question: id = IDI_QUESTION; break;
  }
  const int size = Scale().Apply(kIconSize);
  if (!FIconImage || FIconImageSize != size) {
    FIconImage.Reset(LoadSystemIcon(id, size));
    FIconImageSize = size;
  }
  if (FIconImage)
    ::DrawIconEx(canvas.DC(), Scale().Apply(kIconLeft), Scale().Apply(FIconTop), FIconImage.Get(), size, size, 0,
                 nullptr, DI_NORMAL);
}

LRESULT TZELMessageForm::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE: CloseQuery(); return 0;
    case WM_COMMAND:
      // From the dialog manager without a control: Esc as IDCANCEL, Enter as the default id.
      if (lParam == 0) {
        const int id = LOWORD(wParam);
        if (id == IDCANCEL) {
          if (FEscapeResult) Finish(FEscapeResult);
        } else if (std::any_of(FAnswers.begin(), FAnswers.end(), [id](const TAnswer& s) { return s.Id == id; })) {
          Finish(id);
        }
        return 0;
      }
      break;
    case DM_GETDEFID: {
      // Enter answers with the focused button, else the default one (by its box id).
      HWND focus = ::GetFocus();
      for (TZELButton* button : FButtons)
        if (button->Handle() == focus) return MAKELRESULT(::GetDlgCtrlID(focus), DC_HASDEFID);
      return MAKELRESULT(FAnswers[static_cast<size_t>(FDefaultIndex)].Id, DC_HASDEFID);
    }
  }
  return TZELForm::WindowProc(message, wParam, lParam);
}

}  // namespace zel
