#include "library/win/WindowStation.h"

#include <windows.h>

namespace zel {

bool HasVisibleDesktop() noexcept {
  HWINSTA station = ::GetProcessWindowStation();
  if (!station) return false;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  // When the station cannot be asked, assume the usual case: a user's desktop.
  if (!::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace zel
