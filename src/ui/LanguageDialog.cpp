#include "ui/LanguageDialog.h"

#include <algorithm>
#include <cstring>

#include "library/Streams.h"
#include "package/win/InstallerResources.h"
#include "platform/Platform.h"

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
    if (entry.BytesInRes < 8 || entry.ImageOffset > size || entry.BytesInRes > size - entry.ImageOffset)
      return nullptr;
    TIconGroupEntry out{entry.Width, entry.Height, entry.ColorCount, entry.Reserved,
                        entry.Planes, entry.BitCount, entry.BytesInRes, static_cast<WORD>(i + 1)};
    std::memcpy(group.data() + kIconHeaderSize + i * sizeof(TIconGroupEntry), &out, sizeof(out));
  }
  const int id = ::LookupIconIdFromDirectoryEx(group.data(), TRUE, width, height, LR_DEFAULTCOLOR);
  if (id < 1 || static_cast<size_t>(id) > count) return nullptr;
  const TIconFileEntry& chosen = entries[static_cast<size_t>(id - 1)];
  // CreateIconFromResourceEx takes a non-const pointer but only reads.
  std::vector<uint8_t> image(data + chosen.ImageOffset, data + chosen.ImageOffset + chosen.BytesInRes);
  return ::CreateIconFromResourceEx(image.data(), chosen.BytesInRes, TRUE, 0x00030000, width, height,
                                    LR_DEFAULTCOLOR);
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
    : FUILanguage(uiLanguage),
      FImages(::ImageList_Create(kIconSize, kIconSize, ILC_COLOR32 | ILC_MASK, 4, 4)) {}

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
    item.Text = info.Name;
    item.LangId = info.LangId;
    item.Data = index;
    item.ImageIndex = icon && FImages ? ::ImageList_AddIcon(FImages.Get(), icon.Get()) : -1;
    AddItem(std::move(item));
  });
  SelectDefault();
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
  int index = find(FUILanguage);
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

unsigned WindowDpi(HWND window) {
  // GetDpiForWindow exists from Windows 10 1607 on; bind it late so older systems start.
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow)
    if (const UINT dpi = getDpiForWindow(window)) return dpi;
  const HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<unsigned>(dpi) : 96;
}

unsigned SystemDpi() {
  const HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<unsigned>(dpi) : 96;
}

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

void TZELCustomLanguageDialog::ShowModal(HWND owner, const std::function<void(HWND)>& onShown) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  TDialogTemplate dialogTemplate{};
  dialogTemplate.Header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND;
  dialogTemplate.Header.dwExtendedStyle = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME;
  dialogTemplate.Header.cx = 150;
  dialogTemplate.Header.cy = 50;
  std::memcpy(dialogTemplate.Title, kCaption, sizeof(kCaption));

  FOnShown = onShown;
  const INT_PTR result = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &dialogTemplate.Header, owner,
                                                   &TZELCustomLanguageDialog::DialogProc,
                                                   reinterpret_cast<LPARAM>(this));
  FOnShown = nullptr;
  FFont.Reset();
  if (result == -1) throw Exception(Format(u"The language dialog cannot be shown (error %d)",
                                           static_cast<int>(::GetLastError())));
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
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& work = monitor.rcWork;
  const int left = work.left + (work.right - work.left - width) / 2;
  const int top = work.top + (work.bottom - work.top - height) / 2;
  ::SetWindowPos(window, HWND_TOPMOST, left, top, width, height, SWP_NOACTIVATE);

  FFont.Reset(CreateDialogFont(dpi));
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const RECT& c = layout.Combo;
  HWND combo = ::CreateWindowExW(0, WC_COMBOBOXEXW, nullptr,
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, c.left, c.top,
                                 c.right - c.left, c.bottom - c.top, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(ComboId)), instance, nullptr);
  const RECT& b = layout.Button;
  HWND button = ::CreateWindowExW(0, WC_BUTTONW, L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, b.left,
                                  b.top, b.right - b.left, b.bottom - b.top, window,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), instance, nullptr);
  if (FFont) {
    ::SendMessageW(combo, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
    ::SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
  }

  ::SendMessageW(combo, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(FImages.Get()));
  for (size_t i = 0; i < FItems.size(); ++i) {
    COMBOBOXEXITEMW entry{};
    entry.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
    entry.iItem = static_cast<INT_PTR>(i);
    entry.pszText = const_cast<wchar_t*>(as_wcstr(FItems[i].Text));
    entry.iImage = FItems[i].ImageIndex;
    entry.iSelectedImage = FItems[i].ImageIndex;
    entry.lParam = FItems[i].Data;
    ::SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&entry));
  }
  ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(FItemIndex), 0);
  ::SetFocus(combo);
  if (FOnShown) FOnShown(window);
}

void TZELCustomLanguageDialog::CloseWindow(HWND window) {
  const LRESULT index = ::SendDlgItemMessageW(window, ComboId, CB_GETCURSEL, 0, 0);
  SetItemIndex(index == CB_ERR ? -1 : static_cast<int>(index));
  ::EndDialog(window, IDOK);
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
      case WM_COMMAND:
        // "OK", Enter, Escape and the close box all end the choice the same way.
        if (self && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
          self->CloseWindow(window);
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

String TInstallerLanguageDialog::Execute(bool show) {
  if (show) ShowModal();
  const int selected = GetSelected();
  if (selected < 0) return u"English.lng";
  return FResources.Languages()[static_cast<size_t>(selected)];
}

}  // namespace kivo
