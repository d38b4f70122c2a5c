// A plug-in of the sample product. The same code is built once per plug-in; each
// build differs only in its resources (Plugin.rc.in), whose string 1 is the
// plug-in's title. The registration entries answer S_OK and note the call in
// Registration.log beside the library, so a test can tell that the setup called
// DllUnregisterServer of a library it removes.
#include "CommandLineLog.h"

namespace {

HMODULE ThisModule()
{
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

void NoteCall(const wchar_t* entry)
{
  const std::wstring self = kivo_sample::ModulePath(ThisModule());
  const std::wstring name = self.substr(kivo_sample::FolderOf(self).size());
  kivo_sample::AppendLine(kivo_sample::FolderOf(self) + L"Registration.log", name + L" " + entry);
}

}  // namespace

extern "C" {

__declspec(dllexport) HRESULT __stdcall DllRegisterServer()
{
  NoteCall(L"DllRegisterServer");
  return S_OK;
}

__declspec(dllexport) HRESULT __stdcall DllUnregisterServer()
{
  NoteCall(L"DllUnregisterServer");
  return S_OK;
}

// What the player asks a plug-in for when it loads it.
__declspec(dllexport) const wchar_t* __stdcall KIVOPluginName()
{
  // String resources are not zero-terminated; keep a terminated copy.
  static wchar_t title[64];
  if (!title[0]) {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(ThisModule(), 1, reinterpret_cast<LPWSTR>(&text), 0);
    for (int i = 0; i < length && i + 1 < 64; ++i) title[i] = text[i];
  }
  return title;
}

__declspec(dllexport) int __stdcall KIVOPluginApiVersion()
{
  return 5;
}

}  // extern "C"
