// Plays the attacker of the uninstaller's temporary copy: an unelevated program of the
// same user that watches the temporary folder and tries to put its own bytes in place
// of every "Uninstall.exe" and "Uninstall.dat" that appears there, in the folder itself
// or in any folder below it, by overwriting, deleting and re-creating, renaming the
// file away, or renaming the whole folder away and making a new one in its place.
//
//   temp_swapper <folder to watch> <milliseconds> <report file>
//
// The report lists one line per attempt that succeeded ("overwrote <path>" ...) and
// ends with "refused <n>", the attempts that found a file or folder but could not
// touch it; the exit code is the number of successes.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char kForeign[] = "MZ swapped by temp_swapper: these bytes are not the uninstaller";

std::vector<std::wstring> Report;
// Attempts on a file or folder that was there but could not be touched.
unsigned Refused = 0;

bool WriteForeign(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  ::WriteFile(file, kForeign, sizeof(kForeign) - 1, &written, nullptr);
  ::CloseHandle(file);
  return true;
}

bool IsForeign(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[sizeof(kForeign)] = {};
  DWORD read = 0;
  ::ReadFile(file, buffer, sizeof(buffer), &read, nullptr);
  ::CloseHandle(file);
  return read == sizeof(kForeign) - 1 && std::string(buffer, read) == kForeign;
}

void Attack(const std::wstring& folder) {
  for (const wchar_t* name : {L"Uninstall.exe", L"Uninstall.dat"}) {
    const std::wstring path = folder + L"\\" + name;
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES || IsForeign(path)) continue;
    if (WriteForeign(path)) {
      Report.push_back(L"overwrote " + path);
      continue;
    }
    if (::DeleteFileW(path.c_str()) && WriteForeign(path)) {
      Report.push_back(L"replaced " + path);
      continue;
    }
    const std::wstring aside = path + L".aside";
    if (::MoveFileW(path.c_str(), aside.c_str())) {
      Report.push_back(L"renamed " + path);
      WriteForeign(path);
    } else {
      ++Refused;
    }
  }
}

void AttackFolder(const std::wstring& folder) {
  Attack(folder);
  const std::wstring aside = folder + L" aside";
  if (::GetFileAttributesW((folder + L"\\Uninstall.exe").c_str()) == INVALID_FILE_ATTRIBUTES) return;
  if (::MoveFileW(folder.c_str(), aside.c_str())) {
    Report.push_back(L"moved the folder " + folder);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    WriteForeign(folder + L"\\Uninstall.exe");
    WriteForeign(folder + L"\\Uninstall.dat");
  } else {
    ++Refused;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 255;
  const std::wstring root = argv[1];
  const ULONGLONG until = ::GetTickCount64() + std::wcstoul(argv[2], nullptr, 10);
  while (::GetTickCount64() < until) {
    Attack(root);
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((root + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = data.cFileName;
        const bool ours = name.size() >= 6 && name.compare(name.size() - 6, 6, L" aside") == 0;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L".." && !ours)
          AttackFolder(root + L"\\" + name);
      } while (::FindNextFileW(find, &data));
      ::FindClose(find);
    }
  }
  FILE* out = _wfopen(argv[3], L"w");
  if (out) {
    for (const std::wstring& line : Report) std::fwprintf(out, L"%ls\n", line.c_str());
    std::fwprintf(out, L"refused %u\n", Refused);
    std::fclose(out);
  }
  return static_cast<int>(Report.size());
}
