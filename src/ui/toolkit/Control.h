#pragma once
// The toolkit's windows: TZELControl wraps one system control (a child window), which
// its container owns; TZELContainer is a window of our own class that owns, lays out,
// colours and reflects messages to its controls; TZELPanel is a container inside
// another one (a wizard page), TZELForm a top-level one (Form.h).
//
// Every length a caller gives is in design units at 96 DPI; the container scales them
// with its window's DPI and again when that changes. Exceptions never leave a window
// procedure: they are caught at its edge and handed to the error handler.
#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "library/Strings.h"
#include "library/win/Handles.h"
#include "ui/toolkit/Canvas.h"
#include "ui/toolkit/Scaling.h"
#include "ui/toolkit/Skin.h"
#include "ui/toolkit/Theme.h"

namespace zel {

class TZELContainer;

// Where an exception caught at a window procedure's edge goes (a message box by default).
using TErrorHandler = std::function<void(const String& message)>;
void SetErrorHandler(TErrorHandler handler);
// Call inside a catch block only.
void ReportCurrentException() noexcept;

// Owner: placed by the control it belongs to (a scroll bar over its edit), not by the container.
// A text colour by its meaning, taken from the skin at each paint (so a theme change
// recolours it).
enum class TTextRole { Default, Warning, Link };

enum class TAlign { None, Client, Bottom, Owner };
struct TMargins {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
};

class TZELControl {
public:
  virtual ~TZELControl();
  TZELControl(const TZELControl&) = delete;
  TZELControl& operator=(const TZELControl&) = delete;

  HWND Handle() const { return FHandle.Get(); }
  TZELContainer& Parent() const { return *FParent; }
  int Id() const { return FId; }
  static TZELControl* FromHandle(HWND window);

  // The component name (a language key); empty for unnamed controls.
  const String& Name() const { return FName; }
  void SetName(StringView name) { FName = String(name); }

  // Left, top, width, height in design units.
  void SetBounds(int left, int top, int width, int height);
  const TRect& DesignBounds() const { return FDesign; }
  void SetAlign(TAlign align, const TMargins& margins = {});
  TAlign Align() const { return FAlign; }
  const TMargins& Margins() const { return FMargins; }
  // Height in pixels that an aligned control wants for the given width; 0 for its design height.
  virtual int AutoHeight(int width) { return 0; }

  virtual void SetVisible(bool visible);
  bool Visible() const { return FVisible; }
  virtual void SetEnabled(bool enabled);
  bool Enabled() const;
  // Controls with a caption take it from their language key when the page localizes.
  virtual bool HasCaption() const { return true; }
  virtual void SetCaption(StringView text);
  String Caption() const;
  virtual void SetFont(const TFontStyle& font);
  const TFontStyle& Font() const { return FFont; }
  // A fixed colour (over the role) or none.
  void SetTextColor(std::optional<TColor> color);
  void SetTextRole(TTextRole role);
  void SetFocus();
  bool Focused() const { return ::GetFocus() == Handle(); }
  void Invalidate();

  // Position (pixels, parent client coordinates) and font at the parent's scale.
  virtual void ApplyScale(const TRect& pixels);
  // The palette or skin changed.
  virtual void ApplyTheme() { Invalidate(); }
  // Reflected from the parent window.
  virtual void Command(WORD code) {}
  virtual bool Notify(NMHDR* header, LRESULT& result) { return false; }
  virtual HBRUSH ControlColor(HDC dc);

  std::function<void()> OnClick;

protected:
  explicit TZELControl(TZELContainer& parent);
  void CreateHandle(const wchar_t* className, DWORD style, DWORD exStyle = 0);
  TScale Scale() const;
  // The DPI the font given to the system control is made at: the parent's.
  virtual unsigned FontDpi() const;
  TColor TextColor() const;
  TColor BackColor() const;
  // Controls that paint themselves (the skin) override these two.
  virtual bool OwnPaint() const { return false; }
  virtual void PaintControl(TZELCanvas& canvas, const TRect& client) {}
  // Messages after which the system control draws itself outside WM_PAINT.
  virtual bool RepaintsAfter(UINT message) const { return false; }
  virtual LRESULT SubclassProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The keyboard cue state: hide focus rectangles and accelerators until the keyboard is used.
  bool HideFocus() const;
  bool HideAccelerators() const;
  void Click();

private:
  static LRESULT CALLBACK StaticSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                             DWORD_PTR data) noexcept;
  void PaintNow(HDC dc);

  TZELContainer* FParent;
  TWindowHandle FHandle;
  int FId;
  String FName;
  TRect FDesign;
  TAlign FAlign = TAlign::None;
  TMargins FMargins;
  bool FVisible = true;
  TFontStyle FFont;
  std::optional<TColor> FTextColor;
  TTextRole FTextRole = TTextRole::Default;
};

class TZELContainer {
public:
  virtual ~TZELContainer();
  TZELContainer(const TZELContainer&) = delete;
  TZELContainer& operator=(const TZELContainer&) = delete;

  HWND Handle() const { return FHandle.Get(); }
  const TScale& Scale() const { return FScale; }
  unsigned Dpi() const { return static_cast<unsigned>(FScale.Numerator); }

  // Creates a control owned by this container; it lives as long as the container.
  template <typename T, typename... Args>
  T* Add(Args&&... args) {
    auto control = std::unique_ptr<T>(new T(*this, std::forward<Args>(args)...));
    T* result = control.get();
    FControls.push_back(std::move(control));
    return result;
  }
  // Frees a control of this container before the container's end.
  void Remove(TZELControl* control);
  const std::vector<std::unique_ptr<TZELControl>>& Controls() const { return FControls; }

  virtual TColor BackgroundColor() const { return Skin().Window; }
  // Inner margins for aligned controls (design units).
  void SetPadding(const TMargins& padding) { FPadding = padding; }
  // Places every control: fixed ones at their scaled bounds, aligned ones in the client.
  void Realign();
  // The window's DPI changed (WM_DPICHANGED): rescales the controls to it.
  virtual void ScaleChanged(const TScale& scale);
  // The palette changed: controls re-colour themselves, everything repaints.
  virtual void ThemeChanged();
  void Invalidate();

protected:
  TZELContainer() = default;
  void CreateWindowHandle(const wchar_t* className, HWND parent, DWORD style, DWORD exStyle, int width, int height);
  virtual void Paint(TZELCanvas& canvas, const TRect& client);
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);

  TWindowHandle FHandle;
  TScale FScale;

private:
  static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  void PaintWindow();

  std::vector<std::unique_ptr<TZELControl>> FControls;
  TMargins FPadding;
};

// A container inside another container; created hidden on a parking window until it
// is given its parent (the wizard creates its pages before it shows them).
class TZELPanel : public TZELContainer {
public:
  explicit TZELPanel(const wchar_t* className = L"TZELPanel");
  void SetParentWindow(TZELContainer& parent);
  // Pixels, in the parent's client coordinates.
  void SetBoundsPixels(const TRect& bounds);
  void SetVisible(bool visible);
  bool Visible() const { return ::IsWindowVisible(Handle()) != FALSE; }
  // The panel's window text: its name, for tools and accessibility.
  void SetName(StringView name);
  const String& Name() const { return FName; }

private:
  String FName;
};

// A hidden top-level window that holds panels that have no parent yet.
HWND ParkingWindow();

}  // namespace zel
