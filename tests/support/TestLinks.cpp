#include "TestLinks.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <utility>

namespace kivo::test {

using zel::String;

namespace {

const wchar_t* W(const String& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

using TUnixName = char*(CDECL*)(const wchar_t*);
TUnixName WineUnixName() {
  return reinterpret_cast<TUnixName>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name"));
}

// Runs a Unix program under Wine and waits for the effect through `done`.
template <typename F>
bool RunUnix(const wchar_t* program, String command, F done) {
  if (!StartUnix(program, std::move(command))) return false;
  for (int i = 0; i < 500 && !done(); ++i) ::Sleep(10);
  return done();
}

String UnixPath(const String& path) {
  char* name = WineUnixName()(W(path));
  if (!name) return {};
  String text = zel::FromUtf8(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  return text;
}

}  // namespace

bool StartUnix(const wchar_t* program, String command) {
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(program, reinterpret_cast<wchar_t*>(command.data()), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
    return false;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return true;
}

bool RunsUnderWine() { return WineUnixName() != nullptr; }

bool MakeLink(const String& link, const String& target, bool folder) {
  if (RunsUnderWine())
    return RunUnix(L"Z:\\bin\\ln", u"/bin/ln -s \"" + UnixPath(target) + u"\" \"" + UnixPath(link) + u"\"",
                   [&] { return ::GetFileAttributesW(W(link)) != INVALID_FILE_ATTRIBUTES; });
  return ::CreateSymbolicLinkW(
             W(link), W(target),
             (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != FALSE;
}

void RemoveLinkedTree(const String& folder) {
  if (!RunsUnderWine() || ::GetFileAttributesW(W(folder)) == INVALID_FILE_ATTRIBUTES) return;
  RunUnix(L"Z:\\bin\\rm", u"/bin/rm -rf \"" + UnixPath(folder) + u"\"",
          [&] { return ::GetFileAttributesW(W(folder)) == INVALID_FILE_ATTRIBUTES; });
}

bool SetFileDacl(const String& path, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  const DWORD result = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(W(path)), SE_FILE_OBJECT,
                                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                               nullptr, dacl, nullptr);
  ::LocalFree(descriptor);
  return result == ERROR_SUCCESS;
}

}  // namespace kivo::test
