#pragma once
// Single-line text input in the skin (its frame painted, not the system's light one),
// and an edit with a button inside at its right end (a path with "Browse...").
#include "ui/toolkit/Button.h"
#include "ui/toolkit/Control.h"

namespace zel {

class TZELEdit : public TZELControl {
public:
  explicit TZELEdit(TZELContainer& parent);
  // An edit has no caption: its text is the user's, not a language text.
  bool HasCaption() const override { return false; }
  String Text() const { return Caption(); }
  void SetText(StringView text) { SetCaption(text); }
  void Command(WORD code) override;
  HBRUSH ControlColor(HDC dc) override;
  // Runs after every change of the text, typed or set.
  std::function<void()> OnChange;

protected:
  LRESULT SubclassProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

class TZELButtonEdit : public TZELEdit {
public:
  explicit TZELButtonEdit(TZELContainer& parent);
  // Width in design units of the button inside the edit (100 by default).
  void SetButtonWidth(int width);
  void SetButtonCaption(StringView caption) { FButton->SetCaption(caption); }
  TZELButton& Button() const { return *FButton; }
  void ApplyScale(const TRect& pixels) override;
  void SetVisible(bool visible) override;
  void SetEnabled(bool enabled) override;
  std::function<void()> OnButtonClick;

private:
  TZELButton* FButton;
  int FButtonWidth = 100;
};

}  // namespace zel
