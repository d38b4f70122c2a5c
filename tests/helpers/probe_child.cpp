// A child process for the process tests: with "--marker=<file>" it writes its own
// command line (UTF-8) to that file; "--sleep=<ms>" waits first, so a caller that did
// not wait finds no marker; "--exit=<n>" sets the exit code.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

std::wstring ValueOf(int argc, wchar_t** argv, const wchar_t* name) {
  const size_t length = std::wcslen(name);
  for (int i = 1; i < argc; ++i)
    if (std::wcsncmp(argv[i], name, length) == 0) return argv[i] + length;
  return {};
}

}  // namespace

int wmain() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv) return 100;
  const std::wstring sleep = ValueOf(argc, argv, L"--sleep=");
  const std::wstring marker = ValueOf(argc, argv, L"--marker=");
  const std::wstring exitCode = ValueOf(argc, argv, L"--exit=");
  if (!sleep.empty()) ::Sleep(static_cast<DWORD>(std::wcstoul(sleep.c_str(), nullptr, 10)));
  if (!marker.empty()) {
    const wchar_t* line = ::GetCommandLineW();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes.data(), n, nullptr, nullptr);
    HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 101;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
  }
  const int code = exitCode.empty() ? 0 : static_cast<int>(std::wcstol(exitCode.c_str(), nullptr, 10));
  ::LocalFree(argv);
  return code;
}
