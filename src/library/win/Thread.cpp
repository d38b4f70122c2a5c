#include "library/win/Thread.h"

#include "library/Exceptions.h"
#include "library/win/MessageWait.h"

namespace zel {

TZELThread::TZELThread() {
  FHandle.Reset(::CreateThread(nullptr, 0, &TZELThread::ThreadProc, this, CREATE_SUSPENDED, nullptr));
  if (!FHandle) throw EOSError(::GetLastError(), u"CreateThread");
}

TZELThread::~TZELThread() { StopAndWait(); }

void TZELThread::Resume() {
  if (FStarted) return;
  FStarted = true;
  ::ResumeThread(FHandle.Get());
}

bool TZELThread::WaitFor(DWORD timeoutMs) { return WaitServingMessages(FHandle.Get(), timeoutMs, 1000); }

void TZELThread::StopRequest() {
  if (!Terminated()) {
    Terminate();
    Resume();
  }
}

void TZELThread::StopAndWait() {
  if (FStopped || !FHandle) return;
  FStopped = true;
  StopRequest();
  WaitFor(INFINITE);
}

DWORD WINAPI TZELThread::ThreadProc(void* self) noexcept {
  auto* thread = static_cast<TZELThread*>(self);
  try {
    thread->Execute();
  } catch (...) {
    // A thread body must not let an exception escape into the system; the installer's
    // worker records its own errors before this point.
  }
  thread->FFinished.store(true);
  return 0;
}

}  // namespace zel
