#include "ui/toolkit/Memo.h"

#include <richedit.h>

#include <algorithm>
#include <cstring>

#include "ui/toolkit/Application.h"
#include "ui/toolkit/DeviceContext.h"

namespace zel {

void TZELScrolledControl::AttachScrollBar() { FScrollBar = Parent().Add<TZELScrollBar>(Handle()); }

void TZELScrolledControl::ApplyScale(const TRect& pixels) {
  TZELControl::ApplyScale(pixels);
  if (FScrollBar) FScrollBar->Cover(pixels);
}

void TZELScrolledControl::SetVisible(bool visible) {
  TZELControl::SetVisible(visible);
  if (FScrollBar) FScrollBar->SetVisible(visible);
}

void TZELScrolledControl::SetEnabled(bool enabled) {
  TZELControl::SetEnabled(enabled);
  if (FScrollBar) FScrollBar->Invalidate();
}

void TZELScrolledControl::ApplyTheme() {
  TZELControl::ApplyTheme();
  if (FScrollBar) FScrollBar->Invalidate();
}

LRESULT TZELScrolledControl::SubclassProc(UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = TZELControl::SubclassProc(message, wParam, lParam);
  // A read-only text keeps the arrows and page keys to scroll; Tab, Enter and Esc stay the
  // window's (the next control, the default button, cancel), as in a dialog.
  if (message == WM_GETDLGCODE) return result & ~(DLGC_WANTALLKEYS | DLGC_WANTMESSAGE | DLGC_WANTTAB);
  switch (message) {
    // Everything after which the content may have scrolled or changed its length.
    case WM_VSCROLL:
    case WM_MOUSEWHEEL:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_TIMER:
    case WM_SIZE:
    case WM_SETTEXT:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
    case EM_STREAMIN:
    case EM_SETZOOM:
    case EM_SETSCROLLPOS:
    case EM_SCROLL:
    case EM_LINESCROLL:
      if (FScrollBar) FScrollBar->Refresh();
      break;
  }
  return result;
}

TZELMemo::TZELMemo(TZELContainer& parent) : TZELScrolledControl(parent) {
  CreateHandle(L"EDIT", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP, 0);
  AttachScrollBar();
  ApplyTheme();
}

void TZELMemo::SetLines(const std::vector<String>& lines) {
  String text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) text += u"\r\n";
    // An entry may hold several lines of its own; the edit needs CR LF.
    String line = ReplaceAll(ReplaceAll(lines[i], u"\r\n", u"\n"), u"\n", u"\r\n");
    text += line;
  }
  SetCaption(text);
}

void TZELMemo::ApplyTheme() {
  ApplyScrollBarTheme(Handle(), IsDarkMode() && !IsHighContrast());
  TZELScrolledControl::ApplyTheme();
}

HBRUSH TZELMemo::ControlColor(HDC dc) {
  ::SetTextColor(dc, ToColorRef(Skin().Text));
  ::SetBkColor(dc, ToColorRef(Skin().EditBackground));
  return GetBrush(Skin().EditBackground);
}

namespace {

struct TStreamCookie {
  TStream* Stream;
};

DWORD CALLBACK ReadStream(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* read) noexcept {
  try {
    auto* source = reinterpret_cast<TStreamCookie*>(cookie);
    *read = static_cast<LONG>(source->Stream->Read(buffer, static_cast<size_t>(size)));
    return 0;
  } catch (...) {
    *read = 0;
    return 1;
  }
}

struct TTextCookie {
  const char16_t* Data;
  size_t Left;  // bytes
};

DWORD CALLBACK ReadText(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* read) noexcept {
  auto* source = reinterpret_cast<TTextCookie*>(cookie);
  const size_t n = std::min(source->Left, static_cast<size_t>(size));
  std::memcpy(buffer, reinterpret_cast<const uint8_t*>(source->Data), n);
  source->Data += n / sizeof(char16_t);
  source->Left -= n;
  *read = static_cast<LONG>(n);
  return 0;
}

}  // namespace

TZELRichViewer::TZELRichViewer(TZELContainer& parent) : TZELScrolledControl(parent) {
  CreateHandle(MSFTEDIT_CLASS,
               ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_DISABLENOSCROLL | WS_VSCROLL | WS_TABSTOP, 0);
  AttachScrollBar();
  ::SendMessageW(Handle(), EM_SETEVENTMASK, 0,
                 ENM_CHANGE | ENM_LINK | ENM_PROTECTED | ENM_SELCHANGE | ENM_REQUESTRESIZE);
  ::SendMessageW(Handle(), EM_AUTOURLDETECT, TRUE, 0);
  ::SendMessageW(Handle(), EM_EXLIMITTEXT, 0, 2147483646);
  ApplyTheme();
}

void TZELRichViewer::LoadFromStream(TStream* stream) {
  if (!stream) return;
  TStreamCookie cookie{stream};
  EDITSTREAM edit{};
  edit.dwCookie = reinterpret_cast<DWORD_PTR>(&cookie);
  edit.pfnCallback = &ReadStream;
  ::SendMessageW(Handle(), EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&edit));
  AfterLoad();
}

void TZELRichViewer::SetText(StringView text) {
  TTextCookie cookie{text.data(), text.size() * sizeof(char16_t)};
  EDITSTREAM edit{};
  edit.dwCookie = reinterpret_cast<DWORD_PTR>(&cookie);
  edit.pfnCallback = &ReadText;
  // Streamed as plain Unicode, so a text that happens to begin like rich text stays text.
  ::SendMessageW(Handle(), EM_STREAMIN, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&edit));
  AfterLoad();
  IndentWrappedLines(text);
}

void TZELRichViewer::IndentWrappedLines(StringView text) {
  // The spaces' width in twips: measured in the text's font made as high in pixels as
  // the font is in twips (1440 "pixels" an inch), whatever the screen's DPI.
  CHARFORMAT2W format{};
  format.cbSize = sizeof(format);
  ::SendMessageW(Handle(), EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
  LOGFONTW font{};
  font.lfHeight = -std::max<LONG>(1, format.yHeight);
  font.lfCharSet = DEFAULT_CHARSET;
  std::copy(std::begin(format.szFaceName), std::end(format.szFaceName), std::begin(font.lfFaceName));
  TGdiObject measureFont(::CreateFontIndirectW(&font));
  const TWindowDC window(Handle());
  if (!window || !measureFont) return;  // only the wrapped lines' indent is lost
  const HDC dc = window.Get();
  const TSelectedObject selected(dc, measureFont.Get());
  CHARRANGE selection{};
  // Rich edit keeps a line break as one character.
  LONG position = 0;
  ForEachLine(text, [&](StringView line) {
    size_t spaces = 0;
    while (spaces < line.size() && line[spaces] == u' ') ++spaces;
    if (spaces && spaces < line.size()) {
      SIZE extent{};
      const String indent(spaces, u' ');
      ::GetTextExtentPoint32W(dc, as_wcstr(indent), static_cast<int>(spaces), &extent);
      selection = CHARRANGE{position, position};
      ::SendMessageW(Handle(), EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
      PARAFORMAT2 paragraph{};
      paragraph.cbSize = sizeof(paragraph);
      paragraph.dwMask = PFM_OFFSET;
      paragraph.dxOffset = extent.cx;
      ::SendMessageW(Handle(), EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph));
    }
    position += static_cast<LONG>(line.size()) + 1;
  });
  selection = CHARRANGE{0, 0};
  ::SendMessageW(Handle(), EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
}

void TZELRichViewer::AfterLoad() {
  CHARFORMAT2W format{};
  format.cbSize = sizeof(format);
  format.dwMask = CFM_COLOR;
  format.crTextColor = ToColorRef(Skin().Text);
  ::SendMessageW(Handle(), EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
  ApplyZoom();
}

void TZELRichViewer::ApplyZoom() {
  // Rich edit already lays its points out at the system's DPI; only a window moved to a
  // monitor with another DPI needs the zoom (100 % where it was created).
  FZoomPercent = MulDivRound(100, Scale().Numerator, static_cast<int>(SystemDpi()));
  const int n = RichEditZoomNumerator(FZoomPercent);
  if (n) ::SendMessageW(Handle(), EM_SETZOOM, static_cast<WPARAM>(n), 64);
}

unsigned TZELRichViewer::FontDpi() const {
  // Rich edit turns the font's pixels into points at the system's DPI and the zoom takes
  // them to the window's scale: a font made at the window's DPI would be scaled twice
  // (smaller in a window fitted below its monitor's DPI, larger above it).
  return SystemDpi();
}

void TZELRichViewer::ApplyScale(const TRect& pixels) {
  TZELScrolledControl::ApplyScale(pixels);
  ApplyZoom();
}

void TZELRichViewer::ApplyTheme() {
  ::SendMessageW(Handle(), EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(ToColorRef(Skin().EditBackground)));
  ApplyScrollBarTheme(Handle(), IsDarkMode() && !IsHighContrast());
  AfterLoad();
  TZELScrolledControl::ApplyTheme();
}

bool TZELRichViewer::Notify(NMHDR* header, LRESULT& result) {
  if (header->code != EN_LINK) return false;
  auto* link = reinterpret_cast<ENLINK*>(header);
  if (link->msg != WM_LBUTTONUP) return false;
  const LONG length = link->chrg.cpMax - link->chrg.cpMin;
  if (length <= 1) return false;
  String url(static_cast<size_t>(length) + 1, u'\0');
  TEXTRANGEW range{link->chrg, as_wcstr(url)};
  const LRESULT copied = ::SendMessageW(Handle(), EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  url.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  Application::OpenLink(url);
  result = 1;
  return true;
}

}  // namespace zel
