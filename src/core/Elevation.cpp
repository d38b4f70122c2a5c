#include "core/Elevation.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "core/FreeSpace.h"
#include "package/InstallerErrors.h"
#include "core/SpawnService.h"
#include "library/win/FileSystem.h"
#include "library/CommandLine.h"
#include "library/win/Handles.h"
#include "library/win/MessageWait.h"
#include "library/win/OSError.h"
#include "library/win/SafeTree.h"
#include "package/win/InstallerResources.h"
#include "platform/Platform.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

namespace {

const DWORD ErrorCancelled = ERROR_CANCELLED;  // 1223: the elevation prompt was declined
// What the relay answers when even the copy's exit code cannot be read.
const DWORD kExitCodeUnknown = 1603;

String ExtendedPath(StringView path) { return zel::platform::ExtendedLengthPath(path); }

String CurrentFolder() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  if (n == 0) zel::RaiseLastOSError(u"GetCurrentDirectory");
  String folder(n, u'\0');
  const DWORD m = ::GetCurrentDirectoryW(n, as_wcstr(folder));
  // Longer than a moment ago: another thread changed it.
  if (m == 0 || m >= n) zel::RaiseOSError(m == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW, u"GetCurrentDirectory");
  folder.resize(m);
  return zel::IncludeTrailingBackslash(folder);
}

// Restores the thread's error mode and the current directory when a load is over.
class TLoadGuard {
public:
  explicit TLoadGuard(StringView folder) {
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &FErrorMode);
    const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    if (n > 0) {
      FFolder.resize(n);
      const DWORD m = ::GetCurrentDirectoryW(n, as_wcstr(FFolder));
      FFolder.resize(m < n ? m : 0);
    }
    const String target(folder);
    if (!target.empty()) ::SetCurrentDirectoryW(as_wcstr(target));
  }
  ~TLoadGuard() {
    if (!FFolder.empty()) ::SetCurrentDirectoryW(as_wcstr(FFolder));
    ::SetThreadErrorMode(FErrorMode, nullptr);
  }
  TLoadGuard(const TLoadGuard&) = delete;
  TLoadGuard& operator=(const TLoadGuard&) = delete;

private:
  DWORD FErrorMode = 0;
  String FFolder;
};

}  // namespace

bool RunElevated(StringView params, uint32_t* exitCode) { return RunElevatedFile(zel::ModuleFileName(), params, exitCode); }

bool RunElevatedFile(StringView program, StringView params, uint32_t* exitCode) {
  if (exitCode) *exitCode = 0;
  TInstallerSpawnService::Initialize(nullptr);
  // Window handles are 32-bit values, sign-extended: the copy reads them back the same way.
  const int32_t window = static_cast<int32_t>(reinterpret_cast<intptr_t>(TInstallerSpawnService::TargetWindow()));
  const String parameters = zel::Format(u"/%s=%d %s", u"SKIPUAC", window, params);
  const String file(program);
  const String folder = CurrentFolder();

  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
  info.lpVerb = L"runas";
  info.lpFile = as_wcstr(file);
  info.lpParameters = as_wcstr(parameters);
  info.lpDirectory = as_wcstr(folder);
  info.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExW(&info)) {
    const DWORD error = ::GetLastError();
    if (error == ErrorCancelled) return false;
    zel::RaiseOSError(error, u"ShellExecuteEx (runas) \"" + file + u"\"");
  }
  zel::THandle process(info.hProcess);
  if (process) {
    // The user started us, so we may take the foreground: the elevated copy, whose
    // windows the user now works with, gets that right passed on.
    ::AllowSetForegroundWindow(::GetProcessId(process.Get()));
    // The copy sends its spawn requests to our window: keep serving them while waiting.
    zel::WaitServingMessages(process.Get(), INFINITE, 100);
    DWORD code = 0;
    if (exitCode && ::GetExitCodeProcess(process.Get(), &code)) *exitCode = code;
  }
  return true;
}

namespace {

// Names of the private folders that hold an uninstaller's temporary copy.
constexpr StringView kTempCopyPrefix = u"KIVO Uninstall ";

std::vector<uint8_t> ReadWhole(HANDLE file, const String& path) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) zel::RaiseLastOSError(u"GetFileSizeEx \"" + path + u"\"");
  if (size.QuadPart > (1ll << 31)) zel::RaiseOSError(ERROR_FILE_TOO_LARGE, u"\"" + path + u"\"");
  std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
  LARGE_INTEGER start{};
  ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
  DWORD read = 0;
  if (!bytes.empty() && (!::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                         read != bytes.size()))
    zel::RaiseLastOSError(u"ReadFile \"" + path + u"\"");
  return bytes;
}

zel::TFileHandle OpenForReading(const String& path, DWORD share, DWORD flags = 0) {
  zel::TFileHandle file(::CreateFileW(as_wcstr(ExtendedPath(path)), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                      flags, nullptr));
  if (!file) zel::RaiseLastOSError(path);
  return file;
}

EInstallerMysteryError ChangedByAnotherProgram(const String& copy) {
  return EInstallerMysteryError(u"Cannot Start the Uninstaller: its copy \"" + copy +
                                u"\" was changed by another program");
}

// Our own fresh copy (or its folder) that cannot be opened because another program holds
// it open, or has renamed or deleted it in that moment: as good as changed.
bool TakenByAnotherProgram(const zel::EOSError& e) {
  return e.ErrorCode() == ERROR_SHARING_VIOLATION || e.ErrorCode() == ERROR_FILE_NOT_FOUND ||
         e.ErrorCode() == ERROR_PATH_NOT_FOUND;
}

zel::TFileHandle OpenOwnCopy(const String& path, DWORD share, DWORD flags = 0) {
  try {
    return OpenForReading(path, share, flags);
  } catch (const zel::EOSError& e) {
    if (TakenByAnotherProgram(e)) throw ChangedByAnotherProgram(path);
    throw;
  }
}

// A copy in the private folder, held open so that nobody can write, rename or delete
// it until the uninstaller's copy has ended, and checked against its source while held:
// a swap in the moment between copying and holding is caught here.
zel::TFileHandle CopyAndHold(StringView source, const String& folder) {
  const String target = CopyToTemp(source, folder);
  zel::TFileHandle held = OpenOwnCopy(target, FILE_SHARE_READ);
  zel::TFileHandle original = OpenForReading(String(source), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (ReadWhole(held.Get(), target) != ReadWhole(original.Get(), String(source))) throw ChangedByAnotherProgram(target);
  return held;
}

}  // namespace

String CreatePrivateTempFolder(StringView prefix) {
  return zel::CreatePrivateFolder(zel::LongTempFolder(), prefix).Path();
}

bool IsTempCopyFolder(StringView folder) {
  const String temp = zel::LongTempFolder();
  const String path = zel::IncludeTrailingBackslash(String(folder));
  if (zel::SameText(path, temp)) return true;
  const String parent = zel::ExtractFilePath(zel::ExcludeTrailingBackslash(path));
  return zel::SameText(parent, temp) &&
         zel::StartsWithText(zel::ExtractFileName(zel::ExcludeTrailingBackslash(path)), kTempCopyPrefix);
}

namespace {

uint64_t FileSizeOf(StringView path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(as_wcstr(ExtendedPath(path)), GetFileExInfoStandard, &data)) return 0;
  return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

uint32_t RunUninstallerFromTemp(StringView params) { return RunUninstallerFromTemp(zel::ModuleFileName(), params); }

namespace {

// The private folder with its two copies, held from being copied until the copy ends.
struct THeldCopies {
  String Folder;
  zel::TFileHandle Directory, Exe, Data;
};

THeldCopies CopyIntoPrivateFolder(StringView ownFile) {
  THeldCopies held;
  held.Folder = CreatePrivateTempFolder();
  // The folder goes after its files at the next restart, should the removal fail.
  try {
    // The folder is held too: while it cannot be renamed, its path names our copies.
    held.Directory = OpenOwnCopy(held.Folder, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_FLAG_BACKUP_SEMANTICS);
    held.Exe = CopyAndHold(ownFile, held.Folder);
    held.Data = CopyAndHold(zel::ChangeFileExt(ownFile, u".dat"), held.Folder);
  } catch (...) {
    DeleteAtReboot(held.Folder);
    throw;
  }
  DeleteAtReboot(held.Folder);
  return held;
}

}  // namespace

uint32_t RunUninstallerFromTemp(StringView ownFile, StringView params) {
  // The two copies must fit in the temporary folder, or the relay would leave a truncated one.
  CheckRoom({{zel::LongTempFolder(), FileSizeOf(ownFile) + FileSizeOf(zel::ChangeFileExt(ownFile, u".dat")), 0}});
  // A swap in the moment between copying and holding is seen, not run: then the copies
  // are made again in a new folder, a few times, before the relay gives up.
  constexpr int kAttempts = 3;
  THeldCopies held;
  for (int attempt = 1;; ++attempt) {
    try {
      held = CopyIntoPrivateFolder(ownFile);
      break;
    } catch (const EInstallerMysteryError&) {
      if (attempt == kAttempts) throw;
    }
  }
  const String& folder = held.Folder;
  const String tempExe = folder + zel::ExtractFileName(ownFile);
  // The installation folder must not stay our current directory, or it cannot be removed.
  ::SetCurrentDirectoryW(as_wcstr(folder));
  const String parameters = zel::Format(u"/%s=\"%s\" %s", u"PATH", zel::ExtractFilePath(ownFile), params);
  String commandLine = u"\"" + tempExe + u"\" " + parameters;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(as_wcstr(tempExe), as_wcstr(commandLine), nullptr, nullptr, FALSE, 0, nullptr,
                        as_wcstr(folder), &startup, &info))
    zel::RaiseLastOSError(tempExe);
  zel::THandle process(info.hProcess);
  zel::THandle thread(info.hThread);
  // The copy's window is the one the user works with: it may take the foreground.
  ::AllowSetForegroundWindow(info.dwProcessId);
  // Deployment tools wait for us: answer with the copy's result, not before it has one.
  zel::WaitServingMessages(process.Get(), INFINITE, 100);
  DWORD exitCode = kExitCodeUnknown;
  if (!::GetExitCodeProcess(process.Get(), &exitCode)) exitCode = kExitCodeUnknown;

  // Clean-up: whatever cannot go now goes at the next restart (scheduled above).
  held.Exe.Reset();
  held.Data.Reset();
  held.Directory.Reset();
  ::SetCurrentDirectoryW(as_wcstr(zel::LongTempFolder()));
  ::DeleteFileW(as_wcstr(ExtendedPath(tempExe)));
  ::DeleteFileW(as_wcstr(ExtendedPath(zel::ChangeFileExt(tempExe, u".dat"))));
  ::RemoveDirectoryW(as_wcstr(ExtendedPath(folder)));
  return exitCode;
}

String CopyToTemp(StringView fileName, StringView folder) {
  const String target = zel::IncludeTrailingBackslash(String(folder)) + zel::ExtractFileName(fileName);
  CopyFileOrRaise(fileName, target);
  DeleteAtReboot(target);
  return target;
}

void CopyFileOrRaise(StringView source, StringView target) {
  // The target is made new in a held folder: a link planted under its name is replaced,
  // never written through.
  try {
    const zel::TSafeFolder from = zel::TSafeFolder::Open(zel::ExtractFilePath(String(source)));
    const zel::TSafeFolder to = zel::TSafeFolder::Open(zel::ExtractFilePath(String(target)));
    zel::CopyFileBetween(from, zel::ExtractFileName(String(source)), to, zel::ExtractFileName(String(target)));
  } catch (const zel::EOSError& e) {
    zel::RaiseOSError(e.ErrorCode(), String(source) + u" -> " + String(target));
  }
}

bool DeleteAtReboot(StringView fileName) {
  return ::MoveFileExW(as_wcstr(ExtendedPath(fileName)), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool SafeDeleteFile(StringView fileName) {
  // Clean-up never reports failures: every error below ends in "the file stays".
  try {
    const String path(fileName);
    if (!zel::FileExists(path)) return true;  // a folder, or nothing: not this function's
    // The folder is the caller's (a shell folder, the program folder); the name in it is
    // opened by handle and never followed.
    std::optional<zel::TSafeFolder> folder =
        zel::TSafeFolder::OpenIfExists(zel::ExtractFilePath(path), zel::TSafeFolder::TTrust::FolderAsGiven);
    if (!folder) return true;
    // By handle, and the name itself: a link goes as a link, its target stays.
    switch (folder->DeleteEntry(zel::ExtractFileName(path))) {
      case zel::TDeleteResult::Deleted:
      case zel::TDeleteResult::Missing: return true;
      case zel::TDeleteResult::Refused: return false;
      case zel::TDeleteResult::InUse: break;
    }
    // In use (a running program, a loaded library): out of the way, so the folder can be
    // removed, and deleted at the next restart.
    return zel::MoveAsideUntilRestart(*folder, zel::ExtractFileName(path));
  } catch (...) {
    return false;
  }
}

bool RunAndWait(StringView commandLine) {
  String command(commandLine);  // CreateProcess may write into its command line
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, as_wcstr(command), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    return false;
  zel::THandle process(info.hProcess);
  zel::THandle thread(info.hThread);
  // A console program has no input-idle state: the wait then ends at once.
  if (::WaitForInputIdle(process.Get(), 5000) == WAIT_TIMEOUT) return false;
  ::WaitForSingleObject(process.Get(), INFINITE);
  return true;
}

bool RunProgramAndWait(StringView program, StringView switches) {
  const String application(program);
  String command = u"\"" + application + u"\"" + String(switches);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(as_wcstr(application), as_wcstr(command), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
    return false;
  zel::THandle process(info.hProcess);
  zel::THandle thread(info.hThread);
  ::WaitForSingleObject(process.Get(), INFINITE);
  return true;
}

bool IsUninstaller() { return IsUninstallerFileName(zel::ModuleFileName()); }


namespace {

// Loads the library and calls one of its registration exports; passed over silently
// when it does not load or lacks the export. True when the export was called.
bool CallRegistrationExport(StringView fileName, const char* exportName) {
  const String file(fileName);
  HMODULE library;
  {
    // Its dependencies come from its own folder and the system folder only (the DLL
    // search of this process leaves out the current folder); no "disk not ready" boxes.
    TLoadGuard guard(zel::ExtractFilePath(file));
    const bool absolute = file.size() > 2 && (file[1] == u':' || zel::StartsWith(file, u"\\\\"));
    library = ::LoadLibraryExW(as_wcstr(ExtendedPath(file)), nullptr,
                               absolute ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS : 0);
  }
  if (!library) return false;
  zel::TModuleHandle module(library);
  using TRegistrationProc = HRESULT(WINAPI*)();
  auto call = reinterpret_cast<TRegistrationProc>(reinterpret_cast<void*>(::GetProcAddress(module.Get(), exportName)));
  if (!call) return false;
  call();  // the result is ignored: the caller cleans up or puts back, and cannot do more
  return true;
}

}  // namespace

void TInstallerActiveX::Unregister(StringView fileName) { CallRegistrationExport(fileName, "DllUnregisterServer"); }

bool TInstallerActiveX::Register(StringView fileName) { return CallRegistrationExport(fileName, "DllRegisterServer"); }

}  // namespace kivo
