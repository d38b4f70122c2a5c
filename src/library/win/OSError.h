#pragma once
// Raising the platform's last error as zel::EOSError, so every failed Win32 call
// reaches the user as "System Error.  Code: %d.\r\n%s%s" with its context.
#include "library/Exceptions.h"

namespace zel {

// Raises EOSError for GetLastError(), with `extra` (such as the path involved)
// appended to the message; a last error of 0 gives "A call to an OS function failed".
[[noreturn]] void RaiseLastOSError(StringView extra = {});
[[noreturn]] void RaiseOSError(unsigned code, StringView extra = {});

}  // namespace zel
