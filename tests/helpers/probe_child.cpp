// A child process for the process tests: with "--marker=<file>" it writes its own
// command line (UTF-8) to that file; "--sleep=<ms>" waits first, so a caller that did
// not wait finds no marker; "--exit=<n>" sets the exit code; "--dat" appends a line
// break and the bytes of the file beside it named like it with the extension ".dat"
// (what an uninstaller copy would read as its data).
//
// The options are looked up in the raw command line, not in argv: the command lines
// of the setup's relays hold quoted folders that end in a backslash ("/PATH="C:\KIVO\""),
// which the C runtime's argv rules would read as an escaped quote.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

// The text after " name" up to the next space (names start with "--").
std::wstring ValueOf(const std::wstring& line, const wchar_t* name) {
  const size_t at = line.find(std::wstring(L" ") + name);
  if (at == std::wstring::npos) return {};
  const size_t start = at + 1 + std::wcslen(name);
  const size_t end = line.find(L' ', start);
  return line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

std::string Utf8(const std::wstring& text) {
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(n > 0 ? n : 0, '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  return bytes;
}

std::string DataBesideMe() {
  wchar_t own[MAX_PATH * 4];
  const DWORD n = ::GetModuleFileNameW(nullptr, own, MAX_PATH * 4);
  std::wstring path(own, n);
  const size_t dot = path.rfind(L'.');
  if (dot != std::wstring::npos) path.resize(dot);
  path += L".dat";
  HANDLE file =
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(no data file)";
  char buffer[4096];
  DWORD read = 0;
  ::ReadFile(file, buffer, sizeof(buffer), &read, nullptr);
  ::CloseHandle(file);
  return std::string(buffer, read);
}

}  // namespace

int wmain() {
  const std::wstring line = ::GetCommandLineW();
  const std::wstring sleep = ValueOf(line, L"--sleep=");
  const std::wstring marker = ValueOf(line, L"--marker=");
  const std::wstring exitCode = ValueOf(line, L"--exit=");
  if (!sleep.empty()) ::Sleep(static_cast<DWORD>(std::wcstoul(sleep.c_str(), nullptr, 10)));
  if (!marker.empty()) {
    std::string bytes = Utf8(line);
    if (line.find(L" --dat") != std::wstring::npos) bytes += "\n" + DataBesideMe();
    HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 101;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
  }
  return exitCode.empty() ? 0 : static_cast<int>(std::wcstol(exitCode.c_str(), nullptr, 10));
}
