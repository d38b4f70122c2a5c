#pragma once
// Multi-line text: a read-only memo (the system edit) and a read-only rich-text viewer
// on the system's rich edit ("RICHEDIT50W") that opens links.
#include "library/Streams.h"
#include "ui/toolkit/Control.h"

namespace zel {

class TZELMemo : public TZELControl {
public:
  explicit TZELMemo(TZELContainer& parent);
  bool HasCaption() const override { return false; }
  void SetLines(const std::vector<String>& lines);
  void ApplyTheme() override;
  HBRUSH ControlColor(HDC dc) override;
};

class TZELRichViewer : public TZELControl {
public:
  explicit TZELRichViewer(TZELContainer& parent);
  bool HasCaption() const override { return false; }
  // Rich text up to the stream's end; no stream: nothing changes.
  void LoadFromStream(TStream* stream);
  // Plain text.
  void SetText(StringView text);
  void ApplyScale(const TRect& pixels) override;
  void ApplyTheme() override;
  bool Notify(NMHDR* header, LRESULT& result) override;
  int ZoomPercent() const { return FZoomPercent; }

private:
  void AfterLoad();
  void ApplyZoom();
  int FZoomPercent = 100;
};

}  // namespace zel
