#pragma once
// A fixed-size top-level window of the toolkit: centred on its monitor, double-buffered,
// keyboard navigation as in dialogs (Tab, Enter on the default button, Esc closes,
// mnemonics), dark title bar in dark mode, rescaled when it moves to a monitor with
// another DPI, and told when the theme changes.
#include "ui/toolkit/Control.h"

namespace zel {

// The monitor's work area (without the taskbar).
RECT WorkArea(HMONITOR monitor);

// Bits of the change flags that ThemeChanged receives.
constexpr int ThemeChangeDarkMode = 1;
constexpr int ThemeChangeHighContrast = 2;

class TZELForm : public TZELContainer {
public:
  // clientWidth × clientHeight in design units.
  TZELForm(const wchar_t* className, int clientWidth, int clientHeight);
  ~TZELForm() override;

  void SetCaption(StringView caption);
  String Caption() const;
  void Show();
  // Asks CloseQuery; destroys the window when it agrees. Inside a notification that
  // the worker thread is waiting for, the request is taken up once that call is over.
  void Close();
  // The control that Enter presses (when the focus is not on another push button).
  void SetDefaultButton(TZELControl* button) { FDefaultButton = button; }
  // Ends the application's message loop when this window is destroyed.
  void SetMainForm(bool main) { FMainForm = main; }
  bool Destroyed() const { return FDestroyed; }

  // Every toolkit form: the theme change goes to each of them.
  static void BroadcastThemeChange(int flags);
  // The toolkit form of a window; null for other windows.
  static TZELForm* FromHandle(HWND window);

protected:
  virtual bool CloseQuery() { return true; }
  // flags: ThemeChangeDarkMode and/or ThemeChangeHighContrast.
  virtual void ThemeChangedFlags(int flags);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void ResizeForScale();
  // A new client size in design units, before any control exists: resized (perhaps to
  // a smaller scale to fit the work area) and centred again.
  void SetDesignClientSize(int clientWidth, int clientHeight);
  int ClientDesignWidth() const { return FClientWidth; }
  // At most limit's scale from now on; before any control exists.
  void LimitScale(const TScale& limit);
  // wanted, or a smaller step when the window would not fit into work at it.
  TScale FittingScale(const TScale& wanted, const RECT& work) const;

private:
  // Gives the focus back to the control that last had it (else the first tab stop)
  // when the window is active and no control of it has the focus.
  void RestoreFocus();
  int FClientWidth;
  int FClientHeight;
  TZELControl* FDefaultButton = nullptr;
  bool FMainForm = false;
  bool FDestroyed = false;
  bool FInCloseQuery = false;
  HWND FLastFocus = nullptr;
};

}  // namespace zel
