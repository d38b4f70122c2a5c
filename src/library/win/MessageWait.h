#pragma once
// Waiting on the main thread without deadlocking the threads that send to its windows:
// sent messages are delivered while the wait lasts.
#include <windows.h>

namespace zel {

// Waits until handle is signalled (or timeoutMs passes; INFINITE for no limit),
// serving messages sent to this thread's windows meanwhile; wakes at least every
// sliceMs. Returns true when the handle was signalled.
bool WaitServingMessages(HANDLE handle, DWORD timeoutMs = INFINITE, DWORD sliceMs = 1000);

}  // namespace zel
