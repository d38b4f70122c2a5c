#include "ui/toolkit/Picture.h"

#include <commctrl.h>

#include "ui/toolkit/Application.h"

namespace zel {

TZELPicture::TZELPicture(TZELContainer& parent) : TZELControl(parent) { CreateHandle(L"STATIC", SS_OWNERDRAW); }

void TZELPicture::SetImage(Gdiplus::Image* image, int opacity) {
  FImage = image;
  FOpacity = opacity;
  Invalidate();
}

void TZELPicture::PaintControl(TZELCanvas& canvas, const TRect& client) {
  canvas.FillRect(client, BackColor());
  canvas.DrawImage(FImage, client, FOpacity);
}

TZELFormattedLabel::TZELFormattedLabel(TZELContainer& parent) : TZELControl(parent) {
  CreateHandle(WC_LINK, WS_TABSTOP | LWS_TRANSPARENT);
}

bool TZELFormattedLabel::Notify(NMHDR* header, LRESULT& result) {
  if (header->code != NM_CLICK && header->code != NM_RETURN) return false;
  const auto* link = reinterpret_cast<const NMLINK*>(header);
  const String url = from_wcstr(link->item.szUrl);
  if (!url.empty()) Application::OpenLink(url);
  result = 0;
  return true;
}

HBRUSH TZELFormattedLabel::ControlColor(HDC dc) {
  ::SetTextColor(dc, ToColorRef(TextColor()));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetBkColor(dc, ToColorRef(BackColor()));
  return GetBrush(BackColor());
}

}  // namespace zel
