#pragma once
// The Windows version the program sees (the setup's own start-up, and the product's rules:
// the ".exe"-only shortcuts and the "/REG_UI" switch from Windows 8 on, the shell-cache
// refresh from Windows 10 on). Read once from the system; tests set it to run both sides
// of each rule on one machine.
#include <cstdint>

namespace zel {

struct TWindowsVersion {
  uint32_t Major = 0;
  uint32_t Minor = 0;

  bool IsVistaOrLater() const { return Major >= 6; }
  // Major above 6, or 6 with minor 2 or more.
  bool IsWindows8OrLater() const { return Major > 6 || (Major == 6 && Minor >= 2); }
  bool IsWindows10OrLater() const { return Major >= 10; }
};

// The process-wide value, filled from the system on first use (0.0 when it does not tell).
TWindowsVersion& WindowsVersion();

}  // namespace zel
