// Shared by the stand-in programs that tests watch: takes the parameters from the
// process command line and appends them, as one UTF-8 line, to a log beside the
// program. Header-only so that each stand-in stays one small translation unit.
#pragma once

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601  // CompareStringOrdinal
#endif
#include <windows.h>

#include <string>

namespace kivo_sample {

inline bool IsBlank(wchar_t c) { return c < 33; }

inline std::wstring Trim(const std::wstring& s)
{
  size_t first = 0, last = s.size();
  while (first < last && IsBlank(s[first])) ++first;
  while (last > first && IsBlank(s[last - 1])) --last;
  return s.substr(first, last - first);
}

inline bool StartsWithNoCase(const std::wstring& s, const std::wstring& prefix)
{
  if (prefix.empty() || s.size() < prefix.size()) return false;
  return CompareStringOrdinal(s.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                              static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

inline std::wstring ModulePath(HMODULE module)
{
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

inline std::wstring FolderOf(const std::wstring& path)
{
  size_t p = path.find_last_of(L"\\/:");
  return p == std::wstring::npos ? std::wstring() : path.substr(0, p + 1);
}

inline bool IsExistingFile(const std::wstring& path)
{
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// The command line without the program path, trimmed. The setup starts the
// registration program with its path unquoted even when the path holds blanks
// ("C:\Program Files (x86)\KIVO\Elevator.exe /REG=U"), and CreateProcess accepts
// that by trying each blank-delimited prefix; cutting at the first blank would
// log half a path, so the same prefixes are tried here.
inline std::wstring ParamsOf(const std::wstring& commandLine, const std::wstring& ownPath)
{
  const std::wstring s = Trim(commandLine);
  if (s.empty()) return s;
  size_t end = std::wstring::npos;
  if (s[0] == L'"' || s[0] == L'\'') {
    size_t close = s.find(s[0], 1);
    end = close == std::wstring::npos ? s.size() : close + 1;
  } else if (StartsWithNoCase(s, ownPath) && (s.size() == ownPath.size() || IsBlank(s[ownPath.size()]))) {
    end = ownPath.size();
  } else {
    // Blank-delimited prefixes, shortest first, as CreateProcess tries them.
    size_t firstBlank = std::wstring::npos, firstExe = std::wstring::npos;
    for (size_t i = 1; i <= s.size(); ++i) {
      if (i < s.size() && !(IsBlank(s[i]) && !IsBlank(s[i - 1]))) continue;
      const std::wstring prefix = s.substr(0, i);
      if (IsExistingFile(prefix) || IsExistingFile(prefix + L".exe")) {
        end = i;
        break;
      }
      if (firstBlank == std::wstring::npos) firstBlank = i;
      if (firstExe == std::wstring::npos && prefix.size() >= 4 &&
          CompareStringOrdinal(prefix.c_str() + prefix.size() - 4, 4, L".exe", 4, TRUE) == CSTR_EQUAL)
        firstExe = i;
    }
    if (end == std::wstring::npos) end = firstExe != std::wstring::npos ? firstExe : firstBlank;
  }
  return Trim(s.substr(end));
}

inline std::string ToUtf8(const std::wstring& s)
{
  if (s.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Appends Line and CR LF. Two copies may run at once (the setup does not wait for
// every program it opens), so a sharing violation is retried for a while.
inline bool AppendLine(const std::wstring& logPath, const std::wstring& line)
{
  const std::string bytes = ToUtf8(line) + "\r\n";
  for (int attempt = 0; attempt < 100; ++attempt) {
    HANDLE h = CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      CloseHandle(h);
      return ok && written == bytes.size();
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION) return false;
    Sleep(20);
  }
  return false;
}

// The whole job of the logging stand-ins: one line per start, in LogName beside
// the program file. With the raw form the line is the command line exactly as the
// process received it, program path and quotes included.
inline bool LogRawCommandLine(const wchar_t* logName)
{
  return AppendLine(FolderOf(ModulePath(nullptr)) + logName, GetCommandLineW());
}

inline bool LogOwnCommandLine(const wchar_t* logName)
{
  const std::wstring self = ModulePath(nullptr);
  return AppendLine(FolderOf(self) + logName, ParamsOf(GetCommandLineW(), self));
}

}  // namespace kivo_sample
