#pragma once
// Labels: static text painted in the skin's colours on the parent's background (so
// they read as transparent), optionally word-wrapped; a link label; a warning label.
#include "ui/toolkit/Control.h"

namespace zel {

class TZELLabel : public TZELControl {
public:
  explicit TZELLabel(TZELContainer& parent);
  void SetWordWrap(bool wrap);
  bool WordWrap() const { return FWordWrap; }
  void SetCentered(bool centered);
  // The height of the text at the control's width (auto-sized labels).
  void SetAutoSize(bool autoSize) { FAutoSize = autoSize; }
  int AutoHeight(int width) override;
  // A label on its own background colour (the wizard's footer) instead of the parent's.
  void SetBackColor(std::optional<TColor> color);
  // A word-wrapped label is only as high as its text (at most its bounds), so that it
  // does not cover the controls below its text.
  void ApplyScale(const TRect& pixels) override;
  void SetCaption(StringView text) override;
  void SetFont(const TFontStyle& font) override;

protected:
  bool OwnPaint() const override { return true; }
  void PaintControl(TZELCanvas& canvas, const TRect& client) override;
  UINT TextFlags() const;
  int FLeftIndent = 0;  // pixels left free before the text (the warning icon)

private:
  bool FWordWrap = false;
  bool FCentered = false;
  bool FAutoSize = false;
  std::optional<TColor> FBackColor;
  TRect FPixels;
};

// A label that opens its address when clicked (or when Space/Enter is pressed on it).
class TZELLinkLabel : public TZELLabel {
public:
  explicit TZELLinkLabel(TZELContainer& parent);
  void SetUrl(StringView url) { FUrl = String(url); }
  const String& Url() const { return FUrl; }
  void Command(WORD code) override;

protected:
  LRESULT SubclassProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void PaintControl(TZELCanvas& canvas, const TRect& client) override;

private:
  String FUrl;
};

// A bold, word-wrapped label with the system's warning icon before its text.
class TZELWarningLabel : public TZELLabel {
public:
  explicit TZELWarningLabel(TZELContainer& parent);
  // Good news (an update that keeps the user's settings) wears the information icon, not
  // the warning triangle.
  void SetInformation(bool information);
  // Wrapped beside the icon, as it is painted, and never lower than the icon.
  int AutoHeight(int width) override;

protected:
  void PaintControl(TZELCanvas& canvas, const TRect& client) override;

private:
  int IconSize() const { return Scale().Apply(16); }
  bool FInformation = false;
};

}  // namespace zel
