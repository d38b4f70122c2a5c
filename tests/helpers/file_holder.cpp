// Holds a file open the way a running program holds its own files, for the tests of
// locked targets:
//
//   file_holder FILE SHARE READY RELEASE [TIMEOUT_MS]
//
// opens FILE for reading with the share mode SHARE ("none", "read" or "readdelete"),
// then creates the file READY, and keeps FILE open until the file RELEASE appears or
// TIMEOUT_MS (default 30000) passes. Exit code 0 when released, 1 on the time-out,
// 2 when FILE cannot be opened, 3 for a wrong command line.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

bool Exists(const wchar_t* path) { return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

bool ParseShare(const std::wstring& text, DWORD& share) {
  if (text == L"none") share = 0;
  else if (text == L"read") share = FILE_SHARE_READ;
  else if (text == L"readdelete") share = FILE_SHARE_READ | FILE_SHARE_DELETE;
  else return false;
  return true;
}

}  // namespace

int wmain() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  DWORD share = 0;
  if (!argv || argc < 5 || !ParseShare(argv[2], share)) return 3;
  const DWORD timeout = argc > 5 ? static_cast<DWORD>(std::wcstoul(argv[5], nullptr, 10)) : 30000;

  HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;

  HANDLE ready = ::CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready != INVALID_HANDLE_VALUE) ::CloseHandle(ready);

  const ULONGLONG deadline = ::GetTickCount64() + timeout;
  int code = 1;
  while (::GetTickCount64() < deadline) {
    if (Exists(argv[4])) {
      code = 0;
      break;
    }
    ::Sleep(10);
  }
  ::CloseHandle(file);
  ::LocalFree(argv);
  return code;
}
