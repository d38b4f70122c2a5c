#include "ui/toolkit/MessageForm.h"

#include <algorithm>

namespace zel {

namespace {

constexpr int kWidth = 380;  // design units
constexpr int kTextLeft = 60;
constexpr int kTextWidth = 300;

// The text's height in design units at 96 DPI, for the box's size.
int DesignTextHeight(StringView text) {
  HDC dc = ::GetDC(nullptr);
  ::SelectObject(dc, GetFont(TFontStyle{}, 96));
  RECT r{0, 0, kTextWidth, 0};
  const String copy(text);
  ::DrawTextW(dc, as_wcstr(copy), static_cast<int>(copy.size()), &r, DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
  ::ReleaseDC(nullptr, dc);
  return std::max<int>(32, r.bottom - r.top);
}

}  // namespace

TZELMessageForm::TZELMessageForm(StringView text, StringView caption, TIcon icon, bool withCancel,
                                 bool cancelIsDefault)
    : TZELForm(L"TZELMessageForm", kWidth, DesignTextHeight(text) + 80), FIcon(icon) {
  SetCaption(caption);
  const int textHeight = DesignTextHeight(text);
  FText = Add<TZELLabel>();
  FText->SetWordWrap(true);
  FText->SetBounds(kTextLeft, 20, kTextWidth, textHeight + 4);
  FText->SetCaption(text);
  ::SetWindowLongPtrW(FText->Handle(), GWLP_ID, 0xFFFF);
  const int top = textHeight + 40;
  auto addButton = [&](int left, int id, const char16_t* caption) {
    auto* button = Add<TZELButton>();
    button->SetBounds(left, top, 80, 25);
    button->SetCaption(caption);
    ::SetWindowLongPtrW(button->Handle(), GWLP_ID, id);
    button->OnClick = [this, id] { Finish(id); };
    return button;
  };
  TZELButton* ok = addButton(withCancel ? kWidth - 184 : kWidth - 96, IDOK, u"OK");
  TZELButton* cancel = withCancel ? addButton(kWidth - 96, IDCANCEL, u"Cancel") : nullptr;
  TZELButton* defaultButton = cancel && cancelIsDefault ? cancel : ok;
  SetDefaultButton(defaultButton);
  ::SendMessageW(defaultButton->Handle(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  FDefault = defaultButton;
  FResult = withCancel ? IDCANCEL : IDOK;  // what Esc and the close box give
}

int TZELMessageForm::ShowModal(HWND owner) {
  const int escapeResult = FResult;
  FResult = 0;
  if (owner) ::SetWindowLongPtrW(Handle(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
  const bool ownerEnabled = owner && ::IsWindowEnabled(owner);
  if (ownerEnabled) ::EnableWindow(owner, FALSE);
  ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  Show();
  FDefault->SetFocus();
  MSG message;
  while (FResult == 0 && !Destroyed()) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE &&
        (message.hwnd == Handle() || ::IsChild(Handle(), message.hwnd))) {
      Finish(escapeResult);
      continue;
    }
    if (::IsDialogMessageW(Handle(), &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (ownerEnabled) ::EnableWindow(owner, TRUE);
  if (owner) ::SetActiveWindow(owner);
  ::ShowWindow(Handle(), SW_HIDE);
  return FResult ? FResult : escapeResult;
}

void TZELMessageForm::Finish(int result) { FResult = result; }

bool TZELMessageForm::CloseQuery() {
  // The close box answers as Esc does; the window itself stays until ShowModal returns.
  Finish(::GetDlgItem(Handle(), IDCANCEL) ? IDCANCEL : IDOK);
  return false;
}

void TZELMessageForm::Paint(TZELCanvas& canvas, const TRect& client) {
  canvas.FillRect(client, kivo::Skin.Window);
  LPCWSTR id = IDI_INFORMATION;
  switch (FIcon) {
    case TIcon::Information: id = IDI_INFORMATION; break;
    case TIcon::Warning: id = IDI_WARNING; break;
    case TIcon::Error: id = IDI_ERROR; break;
    case TIcon::Question: id = IDI_QUESTION; break;
  }
  const int size = Scale().Apply(32);
  ::DrawIconEx(canvas.DC(), Scale().Apply(16), Scale().Apply(20), ::LoadIconW(nullptr, id), size, size, 0, nullptr,
               DI_NORMAL);
}

LRESULT TZELMessageForm::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // From the dialog manager: Esc arrives as IDCANCEL without a control.
  if (message == WM_CLOSE || (message == WM_COMMAND && lParam == 0 && LOWORD(wParam) == IDCANCEL)) {
    Finish(::GetDlgItem(Handle(), IDCANCEL) ? IDCANCEL : IDOK);
    return 0;
  }
  return TZELForm::WindowProc(message, wParam, lParam);
}

}  // namespace zel
