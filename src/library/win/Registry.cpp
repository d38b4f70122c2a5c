#include "library/win/Registry.h"

namespace zel {

String ReadRegistryString(HKEY key, const wchar_t* name) {
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
  if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
  String value(size / 2 + 1, u'\0');
  size = static_cast<DWORD>(value.size() * 2);
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
    return {};
  value.resize(size / 2);
  // Stored with or without its terminator, or with several.
  while (!value.empty() && value.back() == u'\0') value.pop_back();
  return value;
}

}  // namespace zel
