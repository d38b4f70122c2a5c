#include "ui/toolkit/Label.h"

#include <algorithm>

#include "ui/toolkit/Application.h"
#include "ui/toolkit/DeviceContext.h"

namespace zel {

TZELLabel::TZELLabel(TZELContainer& parent) : TZELControl(parent) { CreateHandle(L"STATIC", SS_LEFT | SS_NOPREFIX); }

void TZELLabel::SetWordWrap(bool wrap) {
  FWordWrap = wrap;
  if (FPixels.Width() > 0) ApplyScale(FPixels);
  Invalidate();
}

void TZELLabel::SetCentered(bool centered) {
  FCentered = centered;
  Invalidate();
}

void TZELLabel::SetBackColor(std::optional<TColor> color) {
  FBackColor = color;
  Invalidate();
}

UINT TZELLabel::TextFlags() const {
  UINT flags = DT_NOPREFIX | DT_TOP | (FCentered ? DT_CENTER : DT_LEFT);
  flags |= FWordWrap ? DT_WORDBREAK : DT_SINGLELINE;
  return flags;
}

void TZELLabel::ApplyScale(const TRect& pixels) {
  FPixels = pixels;
  TRect fitted = pixels;
  if (FWordWrap && !FAutoSize) {
    FAutoSize = true;
    const int height = AutoHeight(pixels.Width());
    FAutoSize = false;
    if (height > 0 && height < pixels.Height()) fitted.Bottom = pixels.Top + height;
  }
  TZELControl::ApplyScale(fitted);
}

void TZELLabel::SetCaption(StringView text) {
  TZELControl::SetCaption(text);
  if (FWordWrap && FPixels.Width() > 0) ApplyScale(FPixels);
}

void TZELLabel::SetFont(const TFontStyle& font) {
  TZELControl::SetFont(font);
  if (FWordWrap && FPixels.Width() > 0) ApplyScale(FPixels);
}

int TZELLabel::AutoHeight(int width) {
  if (!FAutoSize) return 0;
  const TWindowDC dc(Handle());
  const TSelectedObject font(dc.Get(), GetFont(Font(), Parent().Dpi()));
  RECT r{0, 0, width - FLeftIndent, 0};
  const String text = Caption();
  ::DrawTextW(dc.Get(), as_wcstr(text), static_cast<int>(text.size()), &r, TextFlags() | DT_CALCRECT);
  return r.bottom - r.top;
}

void TZELLabel::PaintControl(TZELCanvas& canvas, const TRect& client) {
  canvas.FillRect(client, FBackColor ? *FBackColor : BackColor());
  TRect text = client;
  text.Left += FLeftIndent;
  canvas.DrawText(Caption(), text, TextColor(), TextFlags());
}

TZELLinkLabel::TZELLinkLabel(TZELContainer& parent) : TZELLabel(parent) {
  ::SetWindowLongPtrW(Handle(), GWL_STYLE, ::GetWindowLongPtrW(Handle(), GWL_STYLE) | SS_NOTIFY | WS_TABSTOP);
  SetTextRole(TTextRole::Link);
}

void TZELLinkLabel::Command(WORD code) {
  if (code != STN_CLICKED) return;
  if (!FUrl.empty()) Application::OpenLink(FUrl);
  Click();
}

LRESULT TZELLinkLabel::SubclassProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETCURSOR: ::SetCursor(::LoadCursorW(nullptr, IDC_HAND)); return TRUE;
    case WM_GETDLGCODE: return DLGC_STATIC | DLGC_WANTCHARS;
    case WM_CHAR:
      if (wParam == L' ' || wParam == L'\r') {
        Command(STN_CLICKED);
        return 0;
      }
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: Invalidate(); break;
  }
  return TZELLabel::SubclassProc(message, wParam, lParam);
}

void TZELLinkLabel::PaintControl(TZELCanvas& canvas, const TRect& client) {
  TZELLabel::PaintControl(canvas, client);
  if (Focused() && !HideFocus()) {
    const RECT r = ToRECT(client);
    ::SetTextColor(canvas.DC(), ToColorRef(Skin().Text));
    ::DrawFocusRect(canvas.DC(), &r);
  }
}

TZELWarningLabel::TZELWarningLabel(TZELContainer& parent) : TZELLabel(parent) {
  SetFont(TFontStyle{9, true});
  SetWordWrap(true);
  SetAutoSize(true);
}

int TZELWarningLabel::AutoHeight(int width) {
  FLeftIndent = IconSize() + Scale().Apply(6);
  return std::max(TZELLabel::AutoHeight(width), IconSize());
}

void TZELWarningLabel::PaintControl(TZELCanvas& canvas, const TRect& client) {
  const int icon = IconSize();
  FLeftIndent = icon + Scale().Apply(6);
  TZELLabel::PaintControl(canvas, client);
  HICON symbol = ::LoadIconW(nullptr, FInformation ? IDI_INFORMATION : IDI_WARNING);
  ::DrawIconEx(canvas.DC(), client.Left, client.Top, symbol, icon, icon, 0, nullptr, DI_NORMAL);
}

void TZELWarningLabel::SetInformation(bool information) {
  FInformation = information;
  Invalidate();
}

}  // namespace zel
