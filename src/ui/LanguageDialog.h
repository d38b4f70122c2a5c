#pragma once
// The small dialog that lets the user pick the setup's language: a picture combo box of
// the language files (name and icon), sorted by name, with the user's own interface
// language preselected, and an "OK" button, in the wizard's light or dark skin.
//
// The list logic (filling, sorting, preselection) lives apart from the window, so it
// runs and is tested without showing anything; ShowModal builds the real window.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "library/IniFile.h"
#include "library/Strings.h"
#include "library/win/Handles.h"

namespace zel {

// The header of a language file (section "File").
struct TZELLanguageInfo {
  String Author;
  int32_t LangId = 0;
  String Name;
  int32_t VersionId = 0;
};

// Fills info from section "File" of ini and loads "Icon" (the hexadecimal bytes of an
// icon file) into icon; an absent or undecodable icon leaves icon empty.
void GetLanguageInfo(TZELIniFile& ini, TZELLanguageInfo& info, TIconHandle& icon);
// The image of an icon file (.ico bytes) that suits width × height best, or null when
// the bytes are no well-formed icon file.
HICON CreateIconFromIconFile(const uint8_t* data, size_t size, int width, int height);

namespace detail {
inline void DestroyImageList(HIMAGELIST list) noexcept { ::ImageList_Destroy(list); }
}  // namespace detail
using TImageListHandle = TUniqueHandle<HIMAGELIST, detail::DestroyImageList>;

// Design sizes at 96 DPI, scaled to the monitor's DPI with integer multiply-and-divide.
struct TLanguageDialogLayout {
  SIZE Client;  // fixed client area
  RECT Combo;   // the picture combo box (its closed height is the control's own)
  RECT Button;  // "OK"
};
TLanguageDialogLayout LanguageDialogLayout(unsigned dpi);

class TZELCustomLanguageDialog {
public:
  struct TItem {
    String Text;          // the language's name
    int ImageIndex = -1;  // in Images(); -1 without a picture
    int32_t LangId = 0;
    int Data = -1;                  // the file's index, as EnumLangs reported it
    std::vector<uint8_t> IconFile;  // the flag's icon file, drawn again at the window's DPI
  };
  using TLanguageCallback = std::function<void(int index)>;

  // uiLanguage: the user's interface language that SelectDefault looks for.
  explicit TZELCustomLanguageDialog(unsigned uiLanguage);
  virtual ~TZELCustomLanguageDialog() = default;
  TZELCustomLanguageDialog(const TZELCustomLanguageDialog&) = delete;
  TZELCustomLanguageDialog& operator=(const TZELCustomLanguageDialog&) = delete;

  // For every language file: load it into ini, then call callback with its index.
  virtual void EnumLangs(TZELIniFile& ini, const TLanguageCallback& callback) = 0;
  // The item of the preferred file (SetPreferredData) when there is one; else the first
  // with the user's language, else the first of its primary language (German for German
  // (Austria)), else the first with 1033, else the first.
  virtual void SelectDefault();
  // The file's index (as EnumLangs reports it) that SelectDefault takes first; -1 for none.
  void SetPreferredData(int data) { FPreferredData = data; }

  // Reads every language's header into a sorted item and selects the default. The
  // subclass's constructor calls it, once EnumLangs can be dispatched to it.
  void Fill();
  // Shows the window modally until it is closed. True for "OK" or Enter, which keep the
  // choice; false for Esc or the close box, which quit. onShown, if given, runs once the
  // window is laid out (tests close it from there).
  bool ShowModal(HWND owner = nullptr, const std::function<void(HWND)>& onShown = {});

  // The data of the selected item, or -1 when nothing is selected.
  int GetSelected() const;
  int ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int index);
  const std::vector<TItem>& Items() const { return FItems; }
  HIMAGELIST Images() const { return FImages.Get(); }
  // The flags' size in pixels: 16 until the window is laid out at its DPI, which makes
  // the image list again at that size, each flag from its icon file's best image.
  int IconSize() const { return FIconSize; }
  void ScaleImages(int size);
  unsigned UILanguage() const { return FUILanguage; }

  static constexpr int ComboId = 100;

private:
  void AddItem(TItem item);
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  void InitWindow(HWND window);
  void CloseWindow(HWND window, bool ok);
  void DrawItem(const DRAWITEMSTRUCT& item);
  static LRESULT CALLBACK ComboProc(HWND combo, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR data) noexcept;

  unsigned FUILanguage;
  std::vector<TItem> FItems;
  int FItemIndex = -1;
  int FPreferredData = -1;
  TImageListHandle FImages;
  TGdiObject FFont;
  std::function<void(HWND)> FOnShown;
  int FItemHeight = 20;
  int FIconSize = 16;
};

}  // namespace zel

namespace kivo {

class TInstallerResources;

class TInstallerLanguageDialog : public zel::TZELCustomLanguageDialog {
public:
  // Fills the list from the resources' Languages as the setup package yields them.
  explicit TInstallerLanguageDialog(TInstallerResources& resources, unsigned uiLanguage);
  explicit TInstallerLanguageDialog(TInstallerResources& resources);

  void EnumLangs(zel::TZELIniFile& ini, const TLanguageCallback& callback) override;
  // Preselects the language file of that name ("German.lng", any folder and case), when
  // the list has it.
  void PreferFile(zel::StringView fileName);
  // Shows the dialog unless show is false; the chosen file's member name, or
  // "English.lng" when there is no language file at all. A dialog closed with Esc or
  // its close box raises EInstallerCancelled.
  zel::String Execute(bool show);

private:
  TInstallerResources& FResources;
};

// The setup's language: the user's choice in the dialog (none when showDialog is false:
// the preselected one), with preferredFile ("German.lng") preselected when the package
// has it. Lets the product's decode start once the choice is on screen, or made.
void ChooseLanguage(TInstallerResources& resources, bool showDialog, zel::StringView preferredFile = {});

}  // namespace kivo
