#pragma once
// Multi-line text: a read-only memo (the system edit) and a read-only rich-text viewer
// on the system's rich edit ("RICHEDIT50W") that opens links.
#include "library/Streams.h"
#include "ui/toolkit/Control.h"
#include "ui/toolkit/ScrollBar.h"

namespace zel {

// The base of both: the skinned scroll bar that covers the system's.
class TZELScrolledControl : public TZELControl {
public:
  void ApplyScale(const TRect& pixels) override;
  void SetVisible(bool visible) override;
  void SetEnabled(bool enabled) override;
  void ApplyTheme() override;

protected:
  explicit TZELScrolledControl(TZELContainer& parent) : TZELControl(parent) {}
  // After CreateHandle.
  void AttachScrollBar();
  LRESULT SubclassProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  TZELScrollBar* FScrollBar = nullptr;
};

class TZELMemo : public TZELScrolledControl {
public:
  explicit TZELMemo(TZELContainer& parent);
  bool HasCaption() const override { return false; }
  void SetLines(const std::vector<String>& lines);
  void ApplyTheme() override;
  HBRUSH ControlColor(HDC dc) override;
};

class TZELRichViewer : public TZELScrolledControl {
public:
  explicit TZELRichViewer(TZELContainer& parent);
  bool HasCaption() const override { return false; }
  // Rich text up to the stream's end; no stream: nothing changes.
  void LoadFromStream(TStream* stream);
  // Plain text; a line that begins with spaces wraps under its first letter, not at the
  // left edge.
  void SetText(StringView text);
  void ApplyScale(const TRect& pixels) override;
  void ApplyTheme() override;
  bool Notify(NMHDR* header, LRESULT& result) override;
  int ZoomPercent() const { return FZoomPercent; }

protected:
  unsigned FontDpi() const override;

private:
  void AfterLoad();
  void ApplyZoom();
  void IndentWrappedLines(StringView text);
  int FZoomPercent = 100;
};

}  // namespace zel
