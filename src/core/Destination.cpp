#include "core/Destination.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "package/PathVariables.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

namespace {

// Longest full path the platform gives back (the extended-length limit).
constexpr DWORD kMaxFullPath = 32768;

String FullPath(const String& path) {
  String full(kMaxFullPath, u'\0');
  const DWORD n = ::GetFullPathNameW(as_wcstr(path), kMaxFullPath, as_wcstr(full), nullptr);
  if (n == 0 || n >= kMaxFullPath) return path;
  full.resize(n);
  return full;
}

// Folder without its trailing backslash, and with any extended-length prefix removed,
// so that folders are compared in one form.
String Comparable(StringView folder) {
  String path(folder);
  if (zel::StartsWith(path, u"\\\\?\\UNC\\"))
    path = u"\\\\" + path.substr(8);
  else if (zel::StartsWith(path, u"\\\\?\\"))
    path.erase(0, 4);
  return zel::ExcludeTrailingBackslash(path);
}

bool IsVolumeRoot(const String& folder) {
  if (folder.size() == 2 && folder[1] == u':') return true;
  if (!zel::StartsWith(folder, u"\\\\")) return folder.empty();
  // "\\server\share": the server and the share, nothing below.
  const size_t server = folder.find(u'\\', 2);
  return server == String::npos || folder.find(u'\\', server + 1) == String::npos;
}

// Inside or equal, element by element ("C:\Windows2" is not inside "C:\Windows").
bool IsWithin(const String& folder, const String& root) {
  if (root.empty() || folder.size() < root.size()) return false;
  if (!zel::SameText(StringView(folder).substr(0, root.size()), root)) return false;
  return folder.size() == root.size() || folder[root.size()] == u'\\';
}

String SpecialFolder(int csidl) {
  wchar_t buffer[MAX_PATH];
  if (FAILED(::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT, buffer)))
    return {};
  return Comparable(zel::from_wcstr(buffer));
}

String WindowsFolder(UINT (*query)(LPWSTR, UINT)) {
  wchar_t buffer[MAX_PATH];
  const UINT n = query(buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? Comparable(zel::from_wcstr(buffer, n)) : String();
}

UINT SystemWow64Folder(LPWSTR buffer, UINT size) { return ::GetSystemWow64DirectoryW(buffer, size); }

}  // namespace

String NormalizeDestPath(StringView path) {
  String text = zel::Trim(path);
  if (text.empty()) return {};
  std::replace(text.begin(), text.end(), u'/', u'\\');
  // Absolute first ("relKIVO", "..\x", "C:x"), then cleaned as every target path is:
  // the files are written to exactly the folder that is registered.
  String normalized = CleanPath(FullPath(text));
  if (normalized.find(u'~') != String::npos) normalized = zel::LongPathName(normalized);
  return normalized.empty() ? normalized : zel::IncludeTrailingBackslash(normalized);
}

String TRefusedDestination::Reason() const {
  switch (Kind) {
    case TKind::DriveRoot: return u"it is the root of a drive";
    case TKind::WindowsFolder: return u"it is a folder of Windows";
    case TKind::SystemFolder: return u"it is a system folder";
    case TKind::HoldsSystemFolder: return u"it holds the folder \"" + HeldFolder + u"\"";
    case TKind::None: break;
  }
  return {};
}

TRefusedDestination RefusedDestination(StringView folder) {
  using TKind = TRefusedDestination::TKind;
  const String path = Comparable(folder);
  if (IsVolumeRoot(path)) return {TKind::DriveRoot, {}};
  // Everything under the Windows folder belongs to the system.
  for (const String& system : {WindowsFolder(&::GetWindowsDirectoryW), WindowsFolder(&::GetSystemDirectoryW),
                               WindowsFolder(&SystemWow64Folder)}) {
    if (IsWithin(path, system)) return {TKind::WindowsFolder, {}};
  }
  // These may hold an installation, but neither be one nor lie inside one: uninstalling
  // deletes the destination with everything in it.
  const int shared[] = {CSIDL_PROGRAM_FILES,       CSIDL_PROGRAM_FILESX86,    CSIDL_PROGRAM_FILES_COMMON,
                        CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_PROFILE,         CSIDL_DESKTOPDIRECTORY,
                        CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL,        CSIDL_COMMON_DOCUMENTS,
                        CSIDL_APPDATA,             CSIDL_LOCAL_APPDATA,       CSIDL_COMMON_APPDATA,
                        CSIDL_STARTMENU,           CSIDL_COMMON_STARTMENU};
  std::vector<String> folders;
  for (int csidl : shared) folders.push_back(SpecialFolder(csidl));
  // The programs folder without " (x86)", as the setup knows it.
  folders.push_back(zel::ReplaceAll(SpecialFolder(CSIDL_PROGRAM_FILESX86), u" (x86)", u""));
  // The profiles root: the folder that holds the user's profile.
  const String profile = SpecialFolder(CSIDL_PROFILE);
  if (!profile.empty()) folders.push_back(zel::ExcludeTrailingBackslash(zel::ExtractFilePath(profile)));
  folders.push_back(Comparable(zel::LongTempFolder()));
  for (const String& special : folders) {
    if (!special.empty() && IsWithin(special, path))
      return zel::SameText(special, path) ? TRefusedDestination{TKind::SystemFolder, {}}
                                          : TRefusedDestination{TKind::HoldsSystemFolder, special};
  }
  return {};
}

bool IsRefusedDestination(StringView folder, String& reason) {
  const TRefusedDestination refused = RefusedDestination(folder);
  reason = refused.Reason();
  return static_cast<bool>(refused);
}

}  // namespace kivo
