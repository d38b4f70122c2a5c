#include "ui/toolkit/Picture.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/toolkit/Application.h"
#include "ui/toolkit/DeviceContext.h"

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
  CreateHandle(L"STATIC", SS_LEFT | SS_NOPREFIX | SS_NOTIFY | WS_TABSTOP);
}

void TZELFormattedLabel::SetCaption(StringView text) {
  TZELControl::SetCaption(text);
  FRuns = ParseLinkMarkup(text);
  FFocusLink = 0;
  FPieces.clear();
  Invalidate();
}

std::vector<String> TZELFormattedLabel::Links() const {
  std::vector<String> links;
  for (const TTextRun& run : FRuns)
    if (run.Link) links.push_back(run.Url);
  return links;
}

void TZELFormattedLabel::Layout(HDC dc, int width) {
  FPieces.clear();
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  const int lineHeight = metrics.tmHeight;
  int x = 0;
  int y = 0;
  auto extent = [dc](const String& text) {
    SIZE size{};
    ::GetTextExtentPoint32W(dc, as_wcstr(text), static_cast<int>(text.size()), &size);
    return static_cast<int>(size.cx);
  };
  for (size_t run = 0; run < FRuns.size(); ++run) {
    const String& text = FRuns[run].Text;
    size_t at = 0;
    while (at < text.size()) {
      // A word with the blanks after it; the line breaks before a word that does not fit.
      size_t end = text.find(u' ', at);
      end = end == String::npos ? text.size() : text.find_first_not_of(u' ', end);
      if (end == String::npos) end = text.size();
      const String word = text.substr(at, end - at);
      String trimmed = word;
      while (!trimmed.empty() && trimmed.back() == u' ') trimmed.pop_back();
      if (x > 0 && x + extent(trimmed) > width) {
        x = 0;
        y += lineHeight;
      }
      const int w = extent(word);
      FPieces.push_back({word, static_cast<int>(run), RECT{x, y, x + w, y + lineHeight}});
      x += w;
      at = end;
    }
  }
}

void TZELFormattedLabel::PaintControl(TZELCanvas& canvas, const TRect& client) {
  canvas.FillRect(client, BackColor());
  const HDC dc = canvas.DC();
  Layout(dc, client.Width());
  ::SetBkMode(dc, TRANSPARENT);
  int link = -1;
  int lastRun = -1;
  RECT focus{0, 0, 0, 0};
  for (size_t i = 0; i < FPieces.size(); ++i) {
    const TPiece& piece = FPieces[i];
    const bool isLink = FRuns[static_cast<size_t>(piece.Run)].Link;
    if (isLink && piece.Run != lastRun) ++link;
    lastRun = piece.Run;
    ::SetTextColor(dc, ToColorRef(!Enabled() ? Skin().DisabledText : isLink ? Skin().Link : TextColor()));
    RECT r = piece.Bounds;
    ::DrawTextW(dc, as_wcstr(piece.Text), static_cast<int>(piece.Text.size()), &r, DT_SINGLELINE | DT_NOPREFIX);
    if (!isLink) continue;
    // The underline runs on to the next word of the link on the same line, else it ends
    // with the word (not its trailing blank).
    const bool continues =
        i + 1 < FPieces.size() && FPieces[i + 1].Run == piece.Run && FPieces[i + 1].Bounds.top == piece.Bounds.top;
    String trimmed = piece.Text;
    while (!continues && !trimmed.empty() && trimmed.back() == u' ') trimmed.pop_back();
    SIZE size{};
    ::GetTextExtentPoint32W(dc, as_wcstr(trimmed), static_cast<int>(trimmed.size()), &size);
    const int base = piece.Bounds.bottom - std::max(1, Scale().Apply(2));
    canvas.FillRect(TRect{piece.Bounds.left, base, piece.Bounds.left + static_cast<int>(size.cx),
                          base + std::max(1, Scale().Apply(1))},
                    Skin().Link);
    if (link == FFocusLink) {
      if (focus.right == 0) focus = piece.Bounds;
      else focus.right = piece.Bounds.right, focus.bottom = piece.Bounds.bottom;
    }
  }
  if (Focused() && !HideFocus() && focus.right > focus.left) {
    ::SetTextColor(dc, ToColorRef(Skin().Text));
    ::DrawFocusRect(dc, &focus);
  }
}

int TZELFormattedLabel::RunAt(POINT point) {
  // Laid out again as painting does: the click may come before any paint.
  RECT client{};
  ::GetClientRect(Handle(), &client);
  {
    const TWindowDC dc(Handle());
    const TSelectedObject font(dc.Get(), GetFont(Font(), Parent().Dpi()));
    Layout(dc.Get(), client.right - client.left);
  }
  for (const TPiece& piece : FPieces)
    if (FRuns[static_cast<size_t>(piece.Run)].Link && ::PtInRect(&piece.Bounds, point)) return piece.Run;
  return -1;
}

void TZELFormattedLabel::Open(int run) {
  if (run < 0 || static_cast<size_t>(run) >= FRuns.size() || !FRuns[static_cast<size_t>(run)].Link) return;
  const String& url = FRuns[static_cast<size_t>(run)].Url;
  if (!url.empty()) Application::OpenLink(url);
}

LRESULT TZELFormattedLabel::SubclassProc(UINT message, WPARAM wParam, LPARAM lParam) {
  const int links = static_cast<int>(Links().size());
  auto focusedRun = [&]() {
    int link = -1;
    for (size_t run = 0; run < FRuns.size(); ++run)
      if (FRuns[run].Link && ++link == FFocusLink) return static_cast<int>(run);
    return -1;
  };
  switch (message) {
    case WM_SETCURSOR: {
      POINT point{};
      ::GetCursorPos(&point);
      ::ScreenToClient(Handle(), &point);
      if (RunAt(point) >= 0) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    }
    case WM_LBUTTONUP: {
      const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      Open(RunAt(point));
      break;
    }
    case WM_GETDLGCODE: {
      // Enter opens the focused link instead of pressing the default button.
      const auto* msg = reinterpret_cast<const MSG*>(lParam);
      const bool enter = msg && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN && links > 0;
      return DLGC_WANTARROWS | DLGC_WANTCHARS | (enter ? DLGC_WANTMESSAGE : 0);
    }
    case WM_KEYDOWN:
      if ((wParam == VK_RIGHT || wParam == VK_DOWN) && FFocusLink + 1 < links) {
        ++FFocusLink;
        Invalidate();
        return 0;
      }
      if ((wParam == VK_LEFT || wParam == VK_UP) && FFocusLink > 0) {
        --FFocusLink;
        Invalidate();
        return 0;
      }
      if (wParam == VK_RETURN || wParam == VK_SPACE) {
        Open(focusedRun());
        return 0;
      }
      break;
    case WM_CHAR:
      if (wParam == L' ' || wParam == L'\r') return 0;
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: Invalidate(); break;
  }
  return TZELControl::SubclassProc(message, wParam, lParam);
}

}  // namespace zel
