#include "library/win/MessageWait.h"

#include <algorithm>

namespace zel {

bool WaitServingMessages(HANDLE handle, DWORD timeoutMs, DWORD sliceMs) {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    DWORD slice = sliceMs;
    if (timeoutMs != INFINITE) {
      const ULONGLONG spent = ::GetTickCount64() - start;
      if (spent >= timeoutMs) return ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
      slice = static_cast<DWORD>(std::min<ULONGLONG>(sliceMs, timeoutMs - spent));
    }
    const DWORD r = ::MsgWaitForMultipleObjects(1, &handle, FALSE, slice, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0) return true;
    if (r == WAIT_OBJECT_0 + 1) {
      // Peeking delivers the pending sent messages; nothing is removed from the queue.
      MSG msg;
      ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    } else if (r == WAIT_FAILED) {
      return false;
    }
  }
}

}  // namespace zel
