#include "ui/LanguageDialog.h"

#include <algorithm>
#include <cstring>

#include "library/Streams.h"
#include "package/win/InstallerResources.h"
#include "package/InstallerErrors.h"
#include "core/RunLog.h"
#include "platform/Platform.h"
#include "ui/Palette.h"
#include "ui/toolkit/Form.h"
#include "ui/toolkit/Theme.h"
#include "ui/toolkit/DeviceContext.h"

namespace zel {

namespace {

constexpr int kIconSize = 16;
constexpr wchar_t kCaption[] = L"Select Language";

// .ico file layout: a 6-byte header (reserved 0, type 1, count), then 16-byte entries.
#pragma pack(push, 2)
struct TIconFileEntry {
  BYTE Width, Height, ColorCount, Reserved;
  WORD Planes, BitCount;
  DWORD BytesInRes;
  DWORD ImageOffset;
};
// The same entry in resource form, as LookupIconIdFromDirectoryEx reads it.
struct TIconGroupEntry {
  BYTE Width, Height, ColorCount, Reserved;
  WORD Planes, BitCount;
  DWORD BytesInRes;
  WORD Id;
};
#pragma pack(pop)
constexpr size_t kIconHeaderSize = 6;

WORD ReadWord(const uint8_t* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

}  // namespace

HICON CreateIconFromIconFile(const uint8_t* data, size_t size, int width, int height) {
  if (!data || size < kIconHeaderSize) return nullptr;
  if (ReadWord(data) != 0 || ReadWord(data + 2) != 1) return nullptr;
  const size_t count = ReadWord(data + 4);
  if (count == 0 || size < kIconHeaderSize + count * sizeof(TIconFileEntry)) return nullptr;

  // Rebuild the directory in resource form (ids 1..count) so that the system picks
  // the image that suits the size best, as it does for icons in resources.
  std::vector<uint8_t> group(kIconHeaderSize + count * sizeof(TIconGroupEntry));
  std::memcpy(group.data(), data, kIconHeaderSize);
  std::vector<TIconFileEntry> entries(count);
  std::memcpy(entries.data(), data + kIconHeaderSize, count * sizeof(TIconFileEntry));
  for (size_t i = 0; i < count; ++i) {
    const TIconFileEntry& entry = entries[i];
    // Every image must lie inside the file and hold at least a header.
    if (entry.BytesInRes < 8 || entry.ImageOffset > size || entry.BytesInRes > size - entry.ImageOffset) return nullptr;
    TIconGroupEntry out{entry.Width,  entry.Height,   entry.ColorCount, entry.Reserved,
                        entry.Planes, entry.BitCount, entry.BytesInRes, static_cast<WORD>(i + 1)};
    std::memcpy(group.data() + kIconHeaderSize + i * sizeof(TIconGroupEntry), &out, sizeof(out));
  }
  const int id = ::LookupIconIdFromDirectoryEx(group.data(), TRUE, width, height, LR_DEFAULTCOLOR);
  if (id < 1 || static_cast<size_t>(id) > count) return nullptr;
  const TIconFileEntry& chosen = entries[static_cast<size_t>(id - 1)];
  // CreateIconFromResourceEx takes a non-const pointer but only reads.
  std::vector<uint8_t> image(data + chosen.ImageOffset, data + chosen.ImageOffset + chosen.BytesInRes);
  return ::CreateIconFromResourceEx(image.data(), chosen.BytesInRes, TRUE, 0x00030000, width, height, LR_DEFAULTCOLOR);
}

void GetLanguageInfo(TZELIniFile& ini, TZELLanguageInfo& info, TIconHandle& icon) {
  info.Author = ini.ReadString(u"File", u"Author");
  info.LangId = ini.ReadInteger(u"File", u"LangId", 0);
  info.Name = ini.ReadString(u"File", u"Name");
  info.VersionId = ini.ReadInteger(u"File", u"VersionId", 0);
  icon.Reset();
  TMemoryStream bytes;
  if (ini.ReadStream(u"File", u"Icon", bytes))
    icon.Reset(CreateIconFromIconFile(bytes.Memory(), static_cast<size_t>(bytes.Size()), kIconSize, kIconSize));
}

TLanguageDialogLayout LanguageDialogLayout(unsigned dpi) {
  auto scale = [dpi](int value) { return ::MulDiv(value, static_cast<int>(dpi), 96); };
  TLanguageDialogLayout layout{};
  layout.Client = {scale(220), scale(75)};
  const int margin = scale(8);
  const int buttonHeight = scale(25);
  layout.Combo = {margin, margin, layout.Client.cx - margin, margin + scale(200)};
  layout.Button = {scale(60), layout.Client.cy - margin - buttonHeight, layout.Client.cx - scale(60),
                   layout.Client.cy - margin};
  return layout;
}

TZELCustomLanguageDialog::TZELCustomLanguageDialog(unsigned uiLanguage)
    : FUILanguage(uiLanguage), FImages(::ImageList_Create(kIconSize, kIconSize, ILC_COLOR32 | ILC_MASK, 4, 4)) {}

void TZELCustomLanguageDialog::Fill() {
  FItems.clear();
  FItemIndex = -1;
  if (FImages) ::ImageList_RemoveAll(FImages.Get());
  TZELIniFile ini;
  EnumLangs(ini, [&](int index) {
    TZELLanguageInfo info;
    TIconHandle icon;
    GetLanguageInfo(ini, info, icon);
    TItem item;
    TMemoryStream file;
    if (ini.ReadStream(u"File", u"Icon", file)) item.IconFile.assign(file.Memory(), file.Memory() + file.Size());
    item.Text = info.Name;
    item.LangId = info.LangId;
    item.Data = index;
    item.ImageIndex = icon && FImages ? ::ImageList_AddIcon(FImages.Get(), icon.Get()) : -1;
    AddItem(std::move(item));
  });
  SelectDefault();
}

void TZELCustomLanguageDialog::ScaleImages(int size) {
  if (size == FIconSize || size <= 0) return;
  TImageListHandle images(::ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 4, 4));
  if (!images) return;  // the flags stay at their size
  for (TItem& item : FItems) {
    item.ImageIndex = -1;
    TIconHandle icon(CreateIconFromIconFile(item.IconFile.data(), item.IconFile.size(), size, size));
    if (icon) item.ImageIndex = ::ImageList_AddIcon(images.Get(), icon.Get());
  }
  FImages = std::move(images);
  FIconSize = size;
}

void TZELCustomLanguageDialog::AddItem(TItem item) {
  // After every item whose name is less or equal: equal names keep their arrival order.
  const auto at = std::upper_bound(FItems.begin(), FItems.end(), item.Text, [](const String& text, const TItem& other) {
    return CompareText(text, other.Text) < 0;
  });
  FItems.insert(at, std::move(item));
}

void TZELCustomLanguageDialog::SelectDefault() {
  auto find = [this](unsigned langId) {
    for (size_t i = 0; i < FItems.size(); ++i)
      if (static_cast<unsigned>(FItems[i].LangId) == langId) return static_cast<int>(i);
    return -1;
  };
  int index = -1;
  for (size_t i = 0; i < FItems.size() && FPreferredData >= 0; ++i)
    if (FItems[i].Data == FPreferredData) index = static_cast<int>(i);
  if (index < 0) index = find(FUILanguage);
  // A regional variant without a file of its own gets its language's file.
  for (size_t i = 0; index < 0 && i < FItems.size(); ++i)
    if (PRIMARYLANGID(static_cast<LANGID>(FItems[i].LangId)) == PRIMARYLANGID(static_cast<LANGID>(FUILanguage)))
      index = static_cast<int>(i);
  if (index < 0) index = find(1033);
  if (index < 0 && !FItems.empty()) index = 0;
  FItemIndex = index;
}

int TZELCustomLanguageDialog::GetSelected() const {
  return FItemIndex >= 0 && static_cast<size_t>(FItemIndex) < FItems.size() ? FItems[FItemIndex].Data : -1;
}

void TZELCustomLanguageDialog::SetItemIndex(int index) {
  FItemIndex = index >= 0 && static_cast<size_t>(index) < FItems.size() ? index : -1;
}

// --- The window

namespace {

// The system's message font, sized for dpi (the metrics come at the system DPI).
HFONT CreateDialogFont(unsigned dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return nullptr;
  metrics.lfMessageFont.lfHeight =
      ::MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

// An empty dialog template: the controls are created in pixels once the DPI is known.
struct alignas(4) TDialogTemplate {
  DLGTEMPLATE Header;
  WORD Menu = 0;
  WORD WindowClass = 0;
  wchar_t Title[sizeof(kCaption) / sizeof(wchar_t)];
};

}  // namespace

bool TZELCustomLanguageDialog::ShowModal(HWND owner, const std::function<void(HWND)>& onShown) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  TDialogTemplate dialogTemplate{};
  dialogTemplate.Header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND;
  dialogTemplate.Header.dwExtendedStyle = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME;
  dialogTemplate.Header.cx = 150;
  dialogTemplate.Header.cy = 50;
  std::memcpy(dialogTemplate.Title, kCaption, sizeof(kCaption));

  FOnShown = onShown;
  const INT_PTR result =
      ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &dialogTemplate.Header, owner,
                                &TZELCustomLanguageDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  FOnShown = nullptr;
  FFont.Reset();
  if (result == -1)
    throw Exception(Format(u"The language dialog cannot be shown (error %d)", static_cast<int>(::GetLastError())));
  return result == IDOK;
}

void TZELCustomLanguageDialog::InitWindow(HWND window) {
  const unsigned dpi = WindowDpi(window);
  const TLanguageDialogLayout layout = LanguageDialogLayout(dpi);

  // Fixed client size, centred on the monitor's work area, above other windows.
  const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE));
  RECT frame{0, 0, layout.Client.cx, layout.Client.cy};
  ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const RECT work = zel::WorkArea(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY));
  const int left = work.left + (work.right - work.left - width) / 2;
  const int top = work.top + (work.bottom - work.top - height) / 2;
  ::SetWindowPos(window, HWND_TOPMOST, left, top, width, height, SWP_NOACTIVATE);

  FFont.Reset(CreateDialogFont(dpi));
  ScaleImages(::MulDiv(kIconSize, static_cast<int>(dpi), 96));
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const RECT& c = layout.Combo;
  // An owner-drawn list (icon and name) and button: painted in the wizard's skin, so that
  // the dialog is dark when the wizard is.
  FItemHeight = ::MulDiv(20, static_cast<int>(dpi), 96);
  HWND combo = ::CreateWindowExW(
      0, WC_COMBOBOXW, nullptr,
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS, c.left,
      c.top, c.right - c.left, c.bottom - c.top, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ComboId)),
      instance, nullptr);
  const RECT& b = layout.Button;
  HWND button = ::CreateWindowExW(0, WC_BUTTONW, L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, b.left,
                                  b.top, b.right - b.left, b.bottom - b.top, window,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), instance, nullptr);
  if (FFont) {
    ::SendMessageW(combo, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
    ::SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
  }
  ::SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), FItemHeight);
  ::SendMessageW(combo, CB_SETITEMHEIGHT, 0, FItemHeight);
  for (size_t i = 0; i < FItems.size(); ++i)
    ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(as_wcstr(FItems[i].Text)));
  ::SetWindowSubclass(combo, &TZELCustomLanguageDialog::ComboProc, 1, reinterpret_cast<DWORD_PTR>(this));
  ApplyTitleBarTheme(window, IsDarkMode() && !IsHighContrast());
  ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(FItemIndex), 0);
  // The first window of the run: it takes the foreground (ours to take, as the user just
  // started us) and the keyboard, so that the first key already chooses.
  ::SetForegroundWindow(window);
  ::SetFocus(combo);
  if (FOnShown) FOnShown(window);
}

void TZELCustomLanguageDialog::DrawItem(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  const RECT& r = item.rcItem;
  const bool focused = (item.itemState & ODS_FOCUS) != 0;
  if (item.CtlType == ODT_BUTTON) {
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    ::FillRect(dc, &r, GetBrush(pressed ? zel::Skin().ButtonFaceHot : zel::Skin().ButtonFace));
    // The default button of the dialog: the accent frame.
    for (int i = 0; i < 2; ++i) {
      const RECT frame{r.left + i, r.top + i, r.right - i, r.bottom - i};
      ::FrameRect(dc, &frame, GetBrush(zel::Skin().DefaultBorder));
    }
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ToColorRef(zel::Skin().ButtonText));
    RECT text = r;
    ::DrawTextW(dc, L"OK", 2, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (focused && !(item.itemState & ODS_NOFOCUSRECT)) {
      RECT focus{r.left + 4, r.top + 4, r.right - 4, r.bottom - 4};
      ::DrawFocusRect(dc, &focus);
    }
    return;
  }
  // A list entry, or the closed box's field (ODS_COMBOBOXEDIT).
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const kivo::TColor back = selected ? kivo::Palette.Accent : zel::Skin().EditBackground;
  const kivo::TColor fore = selected ? 0xFFFFFF : zel::Skin().Text;
  ::FillRect(dc, &r, GetBrush(back));
  if (item.itemID == static_cast<UINT>(-1) || item.itemID >= FItems.size()) return;
  const TItem& entry = FItems[item.itemID];
  // The gaps scale with the flag, as the flag with the DPI.
  const int gap = ::MulDiv(3, FIconSize, kIconSize);
  const int pad = (r.bottom - r.top - FIconSize) / 2;
  if (entry.ImageIndex >= 0)
    ::ImageList_Draw(FImages.Get(), entry.ImageIndex, dc, r.left + gap, r.top + pad, ILD_TRANSPARENT);
  RECT text{r.left + gap + FIconSize + 2 * gap, r.top, r.right, r.bottom};
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ToColorRef(fore));
  ::DrawTextW(dc, as_wcstr(entry.Text), static_cast<int>(entry.Text.size()), &text,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (focused && (item.itemState & ODS_COMBOBOXEDIT)) ::DrawFocusRect(dc, &r);
}

// The closed box: a frame and an arrow of the skin around the owner-drawn field (the
// system draws these two light only).
LRESULT CALLBACK TZELCustomLanguageDialog::ComboProc(HWND combo, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                     DWORD_PTR data) noexcept {
  if (message != WM_PAINT) return ::DefSubclassProc(combo, message, wParam, lParam);
  auto* self = reinterpret_cast<TZELCustomLanguageDialog*>(data);
  const zel::TPaintDC paint(combo);
  const HDC dc = paint.Get();
  RECT client{};
  ::GetClientRect(combo, &client);
  ::FillRect(dc, &client, GetBrush(zel::Skin().EditBackground));
  ::FrameRect(dc, &client, GetBrush(zel::Skin().Border));
  const int arrowWidth = client.bottom - client.top;
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_COMBOBOX;
  item.itemID = static_cast<UINT>(::SendMessageW(combo, CB_GETCURSEL, 0, 0));
  item.itemState = ODS_COMBOBOXEDIT | (::GetFocus() == combo ? ODS_FOCUS : 0);
  item.hDC = dc;
  item.rcItem = RECT{client.left + 2, client.top + 2, client.right - arrowWidth, client.bottom - 2};
  const zel::TSelectedObject font(dc, reinterpret_cast<HFONT>(::SendMessageW(combo, WM_GETFONT, 0, 0)));
  if (self) self->DrawItem(item);
  // The arrow: a small triangle.
  const int cx = client.right - arrowWidth / 2;
  const int cy = (client.top + client.bottom) / 2;
  const int size = std::max(3, arrowWidth / 6);
  const POINT arrow[3] = {{cx - size, cy - size / 2}, {cx + size, cy - size / 2}, {cx, cy + size / 2 + 1}};
  const zel::TSelectedObject brush(dc, GetBrush(zel::Skin().Text));
  const zel::TSelectedObject pen(dc, ::GetStockObject(NULL_PEN));
  ::Polygon(dc, arrow, 3);
  return 0;
}

void TZELCustomLanguageDialog::CloseWindow(HWND window, bool ok) {
  if (ok) {
    const LRESULT index = ::SendDlgItemMessageW(window, ComboId, CB_GETCURSEL, 0, 0);
    SetItemIndex(index == CB_ERR ? -1 : static_cast<int>(index));
  }
  ::EndDialog(window, ok ? IDOK : IDCANCEL);
}

INT_PTR CALLBACK TZELCustomLanguageDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                      LPARAM lParam) noexcept {
  try {
    auto* self = reinterpret_cast<TZELCustomLanguageDialog*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
      case WM_INITDIALOG:
        self = reinterpret_cast<TZELCustomLanguageDialog*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        self->InitWindow(window);
        return FALSE;  // the focus is set already
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLORLISTBOX:
        ::SetTextColor(reinterpret_cast<HDC>(wParam), ToColorRef(zel::Skin().Text));
        ::SetBkColor(reinterpret_cast<HDC>(wParam),
                     ToColorRef(message == WM_CTLCOLORLISTBOX ? zel::Skin().EditBackground : zel::Skin().Window));
        return reinterpret_cast<INT_PTR>(
            GetBrush(message == WM_CTLCOLORLISTBOX ? zel::Skin().EditBackground : zel::Skin().Window));
      case WM_MEASUREITEM:
        if (self) {
          reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = static_cast<UINT>(self->FItemHeight);
          return TRUE;
        }
        break;
      case WM_DRAWITEM:
        if (self) {
          self->DrawItem(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
          return TRUE;
        }
        break;
      case WM_COMMAND:
        // "OK" and Enter keep the choice; Escape and the close box quit the setup.
        if (self && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
          self->CloseWindow(window, LOWORD(wParam) == IDOK);
          return TRUE;
        }
        break;
    }
  } catch (...) {
    // A failure while building the window must not escape into the dialog manager.
    ::EndDialog(window, -1);
  }
  return FALSE;
}

}  // namespace zel

namespace kivo {

using namespace zel;

TInstallerLanguageDialog::TInstallerLanguageDialog(TInstallerResources& resources, unsigned uiLanguage)
    : TZELCustomLanguageDialog(uiLanguage), FResources(resources) {
  Fill();
}

TInstallerLanguageDialog::TInstallerLanguageDialog(TInstallerResources& resources)
    : TInstallerLanguageDialog(resources, platform::UserDefaultUILanguage()) {}

void TInstallerLanguageDialog::EnumLangs(TZELIniFile& ini, const TLanguageCallback& callback) {
  const TZELStringList& languages = FResources.Languages();
  for (size_t i = 0; i < languages.Count(); ++i) {
    std::unique_ptr<TMemoryStream> stream;
    try {
      if (!FResources.SetupPackage().ExtractFile(languages[i], stream)) continue;
    } catch (const ESetupPackageReadError&) {
      continue;  // a member outside the package: that language is not offered
    }
    ini.LoadFromStream(*stream);
    callback(static_cast<int>(i));
  }
}

void TInstallerLanguageDialog::PreferFile(StringView fileName) {
  const String wanted = ExtractFileName(fileName);
  if (wanted.empty()) return;
  const TZELStringList& languages = FResources.Languages();
  for (size_t i = 0; i < languages.Count(); ++i)
    if (SameText(ExtractFileName(languages[i]), wanted)) {
      SetPreferredData(static_cast<int>(i));
      SelectDefault();
      return;
    }
}

String TInstallerLanguageDialog::Execute(bool show) {
  if (show) {
    // Painted before the product's decode may start: the first window does not wait for it.
    const auto onScreen = [this](HWND window) {
      ::ShowWindow(window, SW_SHOW);
      ::UpdateWindow(window);
      FResources.ReleaseProduct();
    };
    if (!ShowModal(nullptr, onScreen)) {
      kivo::RunLog().Log(u"Language dialog closed: the user quit");
      throw EInstallerCancelled();
    }
    kivo::RunLog().Log(u"Language chosen");
  }
  const int selected = GetSelected();
  if (selected < 0) return u"English.lng";
  return FResources.Languages()[static_cast<size_t>(selected)];
}

void ChooseLanguage(TInstallerResources& resources, bool showDialog, StringView preferredFile) {
  String file;
  {
    TInstallerLanguageDialog dialog(resources);
    dialog.PreferFile(preferredFile);
    try {
      file = dialog.Execute(showDialog);
    } catch (...) {
      resources.ReleaseProduct();
      throw;
    }
  }
  resources.ReleaseProduct();  // the dialog released it once on screen; a run without one does here
  resources.UseLanguage(file);
}

}  // namespace kivo
