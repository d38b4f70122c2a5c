#include "library/win/OSError.h"

#include <windows.h>

namespace zel {

void RaiseLastOSError(StringView extra) { RaiseOSError(::GetLastError(), extra); }

void RaiseOSError(unsigned code, StringView extra) {
  if (code == 0) throw EOSError();
  throw EOSError(code, extra);
}

}  // namespace zel
