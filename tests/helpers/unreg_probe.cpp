// A library with an unregistration entry: DllUnregisterServer writes
// "unregistered.marker" beside the library, so a test sees that it was called.
#include <windows.h>

#include <string>

namespace {
HMODULE GModule = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) GModule = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(GModule, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;
  std::wstring marker(path, n);
  marker.resize(marker.find_last_of(L'\\') + 1);
  marker += L"unregistered.marker";
  HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return E_FAIL;
  ::CloseHandle(file);
  return S_OK;
}
