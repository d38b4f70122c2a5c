#pragma once
// The toolkit's own message box, used where the system's would stand light on a dark
// wizard: an icon, the wrapped text and OK (and Cancel), modal to its owner, with
// Enter on the default button and Esc as Cancel. Its text control has the id 65535 and
// its buttons IDOK and IDCANCEL, as in the system's boxes.
#include "ui/toolkit/Button.h"
#include "ui/toolkit/Form.h"
#include "ui/toolkit/Label.h"

namespace zel {

class TZELMessageForm : public TZELForm {
public:
  enum class TIcon { Information, Warning, Error, Question };
  TZELMessageForm(StringView text, StringView caption, TIcon icon, bool withCancel, bool cancelIsDefault);
  // Shows the box until a button or Esc or the close box ends it; IDOK or IDCANCEL.
  int ShowModal(HWND owner);

protected:
  bool CloseQuery() override;
  void Paint(TZELCanvas& canvas, const TRect& client) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  void Finish(int result);
  TIcon FIcon;
  TZELLabel* FText = nullptr;
  TZELButton* FDefault = nullptr;
  int FResult = 0;
};

}  // namespace zel
