#pragma once
// Registry reads shared by the uninstall entries and the account list.
#include <windows.h>

#include "library/Strings.h"

namespace zel {

// A string value (REG_SZ or REG_EXPAND_SZ, not expanded) of an open key; empty when it is
// missing, of another type or cannot be read.
String ReadRegistryString(HKEY key, const wchar_t* name);

}  // namespace zel
