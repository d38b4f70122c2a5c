#pragma once
// Asks every open main window of the player and its companion tools to close, and waits
// until none is left, before any file of the product is touched.
#include <windows.h>

#include "core/InstallerAction.h"
#include "library/win/Handles.h"

namespace kivo {

class TInstallerActionCloseApplications : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionCloseApplications)
public:
  static constexpr const wchar_t* WindowClasses[] = {
      L"TKIVO2EditorForm",       L"TKIVO2MainW",      L"TKIVO3MainWindow", L"TKIVOATEForm",
      L"TKIVOConverterMainForm", L"TKIVOLibMainForm", L"TKIVOMainForm"};

  TInstallerActionCloseApplications();
  void Execute() override;
  // Ends the waits of a running Execute at once (from the main thread).
  void Cancel() override;

  // Passes made by the last Execute.
  int PassCount() const { return FPassCount; }

  // A pass sleeps this long; a close request waits at most CloseTimeoutMs for a window
  // that answers slowly (a hung one is given up on at once); after MaxPasses passes the
  // run goes on and locked files are left to the extraction's question.
  DWORD SleepMs = 2000;
  UINT CloseTimeoutMs = 5000;
  int MaxPasses = 30;

private:
  bool AnyWindowOpen() const;
  bool Cancelled() const;
  // Waits ms, or until close request number request (0: none) has been answered;
  // false when cancelled.
  bool WaitOrCancel(DWORD ms, ULONG_PTR request);
  int FPassCount = 0;
  zel::THandle FCancel;
};

}  // namespace kivo
