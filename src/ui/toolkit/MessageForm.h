#pragma once
// The setup's message box, the same in light, dark and high-contrast mode: an icon, the
// wrapped text and a row of buttons on the right, modal to its owner and centred on it,
// with Enter on the default button, Esc and the close box as Cancel (or OK when OK is the
// only button; neither where the box has no Cancel) and Ctrl+C copying the box as text.
// Its text control has the id 65535 and its buttons IDOK, IDCANCEL, IDABORT, IDRETRY and
// IDIGNORE, as in the system's boxes, so that screen readers and the test driver read it
// the same way.
#include <vector>

#include "library/win/Handles.h"
#include "ui/toolkit/Dialogs.h"
#include "ui/toolkit/Button.h"
#include "ui/toolkit/Form.h"
#include "ui/toolkit/Label.h"

namespace zel {

class TZELMessageForm : public TZELForm {
public:
  enum class TIcon { Information, Warning, Error, Question };
  enum class TButtons { Ok, OkCancel, AbortRetryIgnore };
  // defaultIndex counts the buttons from the left. The box is never at a larger scale
  // than its owner (a wizard made smaller to fit a small screen).
  TZELMessageForm(HWND owner, StringView text, StringView caption, TIcon icon, TButtons buttons, int defaultIndex = 0);
  // Shows the box until a button, Esc or the close box ends it; the id of the answer.
  // Without an owner it is modal to every window of its thread.
  int ShowModal();

protected:
  bool CloseQuery() override;
  void Paint(TZELCanvas& canvas, const TRect& client) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  // A button: the id it answers with, and its caption.
  struct TAnswer {
    int Id;
    String Caption;
  };
  void Layout(StringView text, StringView caption);
  void PlaceOverOwner(HWND owner);
  void CopyToClipboard() const;
  void Finish(int result) { FResult = result; }
  HWND FOwner;
  TIcon FIcon;
  std::vector<TAnswer> FAnswers;
  int FDefaultIndex;
  int FEscapeResult;  // what Esc and the close box answer; 0 where they do nothing
  TZELLabel* FText = nullptr;
  std::vector<TZELButton*> FButtons;
  int FIconTop = 0;  // design units
  int FBandTop = 0;  // design units: the band that holds the buttons
  mutable TIconHandle FIconImage;
  mutable int FIconImageSize = 0;
  int FResult = 0;
};

}  // namespace zel
