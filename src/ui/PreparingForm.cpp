#include "ui/PreparingForm.h"

#include <windows.h>

#include "package/win/InstallerResources.h"
#include "ui/toolkit/Form.h"
#include "ui/toolkit/Label.h"
#include "ui/toolkit/ProgressBar.h"

namespace kivo {

namespace {

constexpr int kWidth = 360;
constexpr int kHeight = 88;
constexpr DWORD kRefreshMs = 100;

class TPreparingForm : public zel::TZELForm {
public:
  explicit TPreparingForm(TInstallerResources& resources) : TZELForm(L"TPreparingForm", kWidth, kHeight) {
    SetCaption(resources.GetText(u"Common", u"Caption"));
    FText = Add<zel::TZELLabel>();
    FText->SetBounds(16, 16, kWidth - 32, 20);
    String text = resources.GetText(u"Common", u"P1");
    FText->SetCaption(text.empty() ? resources.ExpandVariables(u"Preparing the installation of $NAME...") : text);
    FBar = Add<zel::TZELProgressBar>();
    FBar->SetBounds(16, 46, kWidth - 32, 18);
  }
  void SetPosition(int position) { FBar->SetPosition(position); }
  bool Cancelled() const { return FCancelled; }

protected:
  bool CloseQuery() override {
    FCancelled = true;
    return false;  // the wait below ends and the window goes with this object
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    // From the dialog manager: Esc arrives as IDCANCEL without a control.
    if (message == WM_COMMAND && lParam == 0 && LOWORD(wParam) == IDCANCEL) {
      FCancelled = true;
      return 0;
    }
    return TZELForm::WindowProc(message, wParam, lParam);
  }

private:
  using String = zel::String;
  zel::TZELLabel* FText = nullptr;
  zel::TZELProgressBar* FBar = nullptr;
  bool FCancelled = false;
};

}  // namespace

bool WaitWithPreparingWindow(TInstallerResources& resources) {
  const HANDLE decoded = resources.ProductDecoded();
  if (!decoded || ::WaitForSingleObject(decoded, 0) == WAIT_OBJECT_0) return true;
  TPreparingForm form(resources);
  form.SetPosition(resources.ProductProgress());
  form.Show();
  for (;;) {
    const DWORD woken = ::MsgWaitForMultipleObjects(1, &decoded, FALSE, kRefreshMs, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0) return true;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(message.wParam));
        resources.CancelProduct();
        return false;
      }
      if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
        resources.CancelProduct();
        return false;
      }
      if (::IsDialogMessageW(form.Handle(), &message)) continue;
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    if (form.Cancelled()) {
      resources.CancelProduct();
      return false;
    }
    form.SetPosition(resources.ProductProgress());
  }
}

}  // namespace kivo
