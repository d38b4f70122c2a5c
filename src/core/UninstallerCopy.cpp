#include "core/UninstallerCopy.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "core/FileOperations.h"
#include "core/FreeSpace.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/MessageWait.h"
#include "library/win/OSError.h"
#include "library/win/SafeTree.h"
#include "package/InstallerErrors.h"
#include "package/win/InstallerResources.h"
#include "platform/Platform.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

namespace {

// What the relay answers when even the copy's exit code cannot be read.
const DWORD kExitCodeUnknown = 1603;

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
  if (!bytes.empty() && !::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
    zel::RaiseLastOSError(u"ReadFile \"" + path + u"\"");
  // Shorter than its size a moment ago: it changed while read (no error code says so).
  if (read != bytes.size()) zel::RaiseOSError(ERROR_HANDLE_EOF, u"ReadFile \"" + path + u"\"");
  return bytes;
}

zel::TFileHandle OpenForReading(const String& path, DWORD share, DWORD flags = 0) {
  zel::TFileHandle file(::CreateFileW(as_wcstr(zel::platform::ExtendedLengthPath(path)), GENERIC_READ, share, nullptr,
                                      OPEN_EXISTING, flags, nullptr));
  if (!file) zel::RaiseLastOSError(u"CreateFile \"" + path + u"\"");
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
  if (!::GetFileAttributesExW(as_wcstr(zel::platform::ExtendedLengthPath(path)), GetFileExInfoStandard, &data))
    return 0;
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
  if (!::CreateProcessW(as_wcstr(tempExe), as_wcstr(commandLine), nullptr, nullptr, FALSE, 0, nullptr, as_wcstr(folder),
                        &startup, &info))
    zel::RaiseLastOSError(u"CreateProcess \"" + tempExe + u"\"");
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
  ::DeleteFileW(as_wcstr(zel::platform::ExtendedLengthPath(tempExe)));
  ::DeleteFileW(as_wcstr(zel::platform::ExtendedLengthPath(zel::ChangeFileExt(tempExe, u".dat"))));
  ::RemoveDirectoryW(as_wcstr(zel::platform::ExtendedLengthPath(folder)));
  return exitCode;
}

String CopyToTemp(StringView fileName, StringView folder) {
  const String target = zel::IncludeTrailingBackslash(String(folder)) + zel::ExtractFileName(fileName);
  CopyFileOrRaise(fileName, target);
  DeleteAtReboot(target);
  return target;
}

bool IsUninstaller() { return IsUninstallerFileName(zel::ModuleFileName()); }

}  // namespace kivo
