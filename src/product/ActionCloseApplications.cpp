#include "product/ActionCloseApplications.h"

#include "core/Installer.h"
#include "core/RunLog.h"
#include "product/RoomCheck.h"
#include "library/win/Handles.h"

namespace kivo {

void TInstallerActionCloseApplications::Execute() {
  // The first step of every run: an install that cannot fit is refused before anything,
  // the running player included, is touched.
  if (Installer->Mode() == TInstallerMode::Install) CheckRoomForInstall();
  SetStatus(GetCommonText(u"A8"));
  FPassCount = 0;
  for (;;) {
    bool found = false;
    for (const wchar_t* windowClass : WindowClasses) {
      HWND window = ::FindWindowW(windowClass, nullptr);
      if (!window) continue;
      found = true;
      RunLog().Log(u"Closing a window of class " + zel::from_wcstr(windowClass));
      // SendMessage to a hung window never returns: ask with a time limit instead.
      DWORD_PTR result = 0;
      ::SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL, CloseTimeoutMs, &result);
    }
    ++FPassCount;
    ::Sleep(SleepMs);
    if (!found) break;
    if (FPassCount >= MaxPasses) {
      RunLog().Log(u"Programs still running after " + zel::IntToStr(FPassCount) + u" passes; going on");
      break;
    }
  }
}

}  // namespace kivo
