#include "library/win/OSError.h"

#include <windows.h>

namespace zel {

void RaiseLastOSError(StringView extra) { RaiseOSError(::GetLastError(), extra); }

void RaiseOSError(unsigned code, StringView extra) { throw EOSError(code, extra); }

void WriteAllOrRaise(void* file, const void* data, unsigned long size, StringView what) {
  DWORD written = 0;
  if (!::WriteFile(file, data, size, &written, nullptr)) RaiseLastOSError(what);
  if (written != size) RaiseOSError(ERROR_DISK_FULL, what);
}

}  // namespace zel
