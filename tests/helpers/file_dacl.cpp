// Reads or sets the DACL of a file or folder, as the end-to-end tests need it:
//   file_dacl get PATH         prints the DACL as SDDL ("D:P(A;OICI;FA;;;SY)..."), UTF-8
//   file_dacl set PATH SDDL    sets the DACL (and its protection) from SDDL
// Exit code 0, or 1 with the failing call's error on standard error.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>

namespace {

int Fail(const char* call, DWORD error) {
  std::fprintf(stderr, "%s failed: %lu\n", call, static_cast<unsigned long>(error));
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"get") {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    const DWORD error = ::GetNamedSecurityInfoW(argv[2], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                                &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) return Fail("GetNamedSecurityInfo", error);
    wchar_t* text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                &text, nullptr))
      return Fail("ConvertSecurityDescriptorToStringSecurityDescriptor", ::GetLastError());
    char bytes[8192];
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr);
    std::printf("%s\n", n > 0 ? bytes : "(unprintable)");
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return 0;
  }
  if (argc == 4 && std::wstring(argv[1]) == L"set") {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[3], SDDL_REVISION_1, &descriptor, nullptr))
      return Fail("ConvertStringSecurityDescriptorToSecurityDescriptor", ::GetLastError());
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    const DWORD error = ::SetNamedSecurityInfoW(argv[2], SE_FILE_OBJECT,
                                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                nullptr, nullptr, dacl, nullptr);
    ::LocalFree(descriptor);
    return error == ERROR_SUCCESS ? 0 : Fail("SetNamedSecurityInfo", error);
  }
  std::fprintf(stderr, "usage: file_dacl get PATH | file_dacl set PATH SDDL\n");
  return 2;
}
