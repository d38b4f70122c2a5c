#pragma once
// The Windows version that the product's rules test (the ".exe"-only shortcuts and the
// "/REG_UI" switch from Windows 8 on, the shell-cache refresh from Windows 10 on). Read
// once from the system; tests set it to run both sides of each rule on one machine.
#include <cstdint>

namespace kivo {

struct TWindowsVersion {
  uint32_t Major = 0;
  uint32_t Minor = 0;

  // Major above 6, or 6 with minor 2 or more.
  bool IsWindows8OrLater() const { return Major > 6 || (Major == 6 && Minor >= 2); }
  bool IsWindows10OrLater() const { return Major >= 10; }
};

// The process-wide value, filled from the system on first use.
TWindowsVersion& WindowsVersion();

}  // namespace kivo
