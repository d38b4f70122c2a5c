#pragma once
// Device contexts and the objects selected into them, given back by scope: a paint that
// raises half-way (an allocation between the calls) still ends its paint, releases its DC
// and puts back what it selected.
#include <windows.h>

namespace zel {

// GetDC (the client area) or GetWindowDC (the whole window, frame included), then ReleaseDC.
class TWindowDC {
public:
  enum class TArea { Client, Window };
  explicit TWindowDC(HWND window, TArea area = TArea::Client)
      : FWindow(window), FDC(area == TArea::Window ? ::GetWindowDC(window) : ::GetDC(window)) {}
  ~TWindowDC() {
    if (FDC) ::ReleaseDC(FWindow, FDC);
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  HDC Get() const { return FDC; }
  explicit operator bool() const { return FDC != nullptr; }

private:
  HWND FWindow;
  HDC FDC;
};

// BeginPaint, then EndPaint.
class TPaintDC {
public:
  explicit TPaintDC(HWND window) : FWindow(window), FDC(::BeginPaint(window, &FPaint)) {}
  ~TPaintDC() { ::EndPaint(FWindow, &FPaint); }
  TPaintDC(const TPaintDC&) = delete;
  TPaintDC& operator=(const TPaintDC&) = delete;
  HDC Get() const { return FDC; }

private:
  HWND FWindow;
  PAINTSTRUCT FPaint{};
  HDC FDC;
};

// SelectObject, then the object that was selected before, back in its place.
class TSelectedObject {
public:
  TSelectedObject(HDC dc, HGDIOBJ object) : FDC(dc), FOld(dc && object ? ::SelectObject(dc, object) : nullptr) {}
  ~TSelectedObject() {
    if (FOld) ::SelectObject(FDC, FOld);
  }
  TSelectedObject(const TSelectedObject&) = delete;
  TSelectedObject& operator=(const TSelectedObject&) = delete;

private:
  HDC FDC;
  HGDIOBJ FOld;
};

}  // namespace zel
