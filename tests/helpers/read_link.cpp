// Prints the target path stored in each shell link named on the command line, one per
// line ("(unreadable)" for a link that does not load), as UTF-8: the end-to-end tests
// check that the setup's shortcuts resolve to the installed files.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    std::wstring target = L"(unreadable)";
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(argv[i], STGM_READ))) {
      wchar_t buffer[MAX_PATH * 4] = {};
      if (SUCCEEDED(link->GetPath(buffer, MAX_PATH * 4, nullptr, SLGP_RAWPATH))) target = buffer;
    }
    if (file) file->Release();
    if (link) link->Release();
    if (target == L"(unreadable)") ++failures;
    char bytes[MAX_PATH * 16];
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, target.c_str(), -1, bytes, sizeof(bytes), nullptr, nullptr);
    std::printf("%s\n", n > 0 ? bytes : "(unprintable)");
  }
  ::CoUninitialize();
  return failures == 0 ? 0 : 1;
}
