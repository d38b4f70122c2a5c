#pragma once
// Raising the platform's last error as zel::EOSError, so every failed Win32 call
// reaches the user as "System Error.  Code: %d.\r\n%s%s" with its context.
#include "library/Exceptions.h"

namespace zel {

// Raises EOSError for GetLastError(), with `extra` (such as the path involved)
// appended to the message; a last error of 0 gives "A call to an OS function failed",
// still followed by `extra`.
[[noreturn]] void RaiseLastOSError(StringView extra = {});
[[noreturn]] void RaiseOSError(unsigned code, StringView extra = {});

// Writes all of size bytes to file or raises, naming `what` ("WriteFile \"path\""): a write
// that takes fewer bytes without an error has met a full disk (ERROR_DISK_FULL).
void WriteAllOrRaise(void* file, const void* data, unsigned long size, StringView what);

}  // namespace zel
