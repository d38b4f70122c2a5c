#include "library/win/WindowsVersion.h"

#include <windows.h>

namespace zel {

TWindowsVersion& WindowsVersion() {
  static TWindowsVersion version = [] {
    TWindowsVersion v;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    // What the program's manifest lets it see: without a Windows 10 entry Windows (and
    // Wine) answers 6.2, as it does for every program that does not declare it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const bool known = ::GetVersionExW(&info) != FALSE;
#pragma GCC diagnostic pop
    if (known) {
      v.Major = info.dwMajorVersion;
      v.Minor = info.dwMinorVersion;
    }
    return v;
  }();
  return version;
}

}  // namespace zel
