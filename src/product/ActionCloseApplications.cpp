#include "product/ActionCloseApplications.h"

#include <algorithm>
#include <atomic>

#include "core/FreeSpace.h"
#include "core/Installer.h"
#include "core/InstallerThread.h"
#include "core/RunLog.h"
#include "library/Exceptions.h"
#include "library/win/Handles.h"
#include "product/RoomCheck.h"

namespace kivo {

namespace {

// The number of the last close request a window has answered. Process-wide, because an
// answer that comes after its wait gave up may arrive while a later action waits.
std::atomic<ULONG_PTR> LastAnswered{0};
std::atomic<ULONG_PTR> LastRequest{0};

void CALLBACK CloseAnswered(HWND, UINT, ULONG_PTR request, LRESULT) noexcept {
  ULONG_PTR seen = LastAnswered.load();
  while (seen < request && !LastAnswered.compare_exchange_weak(seen, request)) {}
}

}  // namespace

TInstallerActionCloseApplications::TInstallerActionCloseApplications()
    : FCancel(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (!FCancel) throw zel::EOSError(::GetLastError(), u"CreateEvent (cancelling the close pass)");
}

void TInstallerActionCloseApplications::Cancel() { ::SetEvent(FCancel.Get()); }

bool TInstallerActionCloseApplications::Cancelled() const {
  return ::WaitForSingleObject(FCancel.Get(), 0) == WAIT_OBJECT_0;
}

bool TInstallerActionCloseApplications::WaitOrCancel(DWORD ms, ULONG_PTR request) {
  const ULONGLONG start = ::GetTickCount64();
  HANDLE cancel = FCancel.Get();
  for (;;) {
    if (request && LastAnswered.load() >= request) return true;
    const ULONGLONG spent = ::GetTickCount64() - start;
    if (spent >= ms) return !Cancelled();
    // The answer to a close request comes as a sent message: peeking delivers it.
    const DWORD r = ::MsgWaitForMultipleObjects(1, &cancel, FALSE, static_cast<DWORD>(ms - spent), QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0) return false;
    if (r == WAIT_FAILED)
      throw zel::EOSError(::GetLastError(), u"MsgWaitForMultipleObjects (closing running programs)");
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

bool TInstallerActionCloseApplications::AnyWindowOpen() const {
  for (const wchar_t* windowClass : WindowClasses)
    if (::FindWindowW(windowClass, nullptr)) return true;
  return false;
}

void TInstallerActionCloseApplications::Execute() {
  // Looking for windows touches nothing. While none is open, the pause below counts from
  // here: a silent install's product package is still decoding, and the decode, not a
  // second wait after it, fills the pause.
  const bool anyOpen = AnyWindowOpen();
  const ULONGLONG noneOpenSince = ::GetTickCount64();
  // The first step of every run: a damaged package, or an install that cannot fit, is
  // refused before anything, the running player included, is touched.
  TakeUpProductDecode(Installer->Resources(), u"the run");
  if (Installer->Mode() == TInstallerMode::Install) CheckRoomForInstall();
  // The pause below gives running programs time to end; the new files are written meanwhile.
  if (TInstallerThread* thread = Installer->Thread()) thread->BeginAhead();
  SetStatus(GetCommonText(u"A8"));
  FPassCount = 0;
  while (!Cancelled()) {
    bool found = false;
    for (const wchar_t* windowClass : WindowClasses) {
      if (Cancelled()) break;
      HWND window = ::FindWindowW(windowClass, nullptr);
      if (!window) continue;
      found = true;
      RunLog().Log(u"Closing a window of class " + zel::from_wcstr(windowClass));
      // A hung window is given up on at once; any other has CloseTimeoutMs to answer.
      // The request is sent without blocking, so that a cancel ends the wait at once
      // (SendMessage to a hung window never returns; SendMessageTimeout cannot be woken).
      if (::IsHungAppWindow(window)) continue;
      const ULONG_PTR request = ++LastRequest;
      if (!::SendMessageCallbackW(window, WM_CLOSE, 0, 0, &CloseAnswered, request)) continue;
      WaitOrCancel(CloseTimeoutMs, request);
    }
    ++FPassCount;
    DWORD pause = SleepMs;
    if (!found && !anyOpen && FPassCount == 1)
      pause -= static_cast<DWORD>(std::min<ULONGLONG>(SleepMs, ::GetTickCount64() - noneOpenSince));
    if (!WaitOrCancel(pause, 0)) break;
    if (!found) break;
    if (FPassCount >= MaxPasses) {
      RunLog().Log(u"Programs still running after " + zel::IntToStr(FPassCount) + u" passes; going on");
      break;
    }
  }
  if (Cancelled()) RunLog().Log(u"Closing running programs stopped: the user cancelled");
}

}  // namespace kivo
