#include "library/win/KnownFolders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "library/Exceptions.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/OSError.h"
#include "library/win/UserAccounts.h"

namespace zel {

const StringView kShellFolderMissing = u"it does not exist";

namespace {

String KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  String folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path)
    folder = ComparableFolder(from_wcstr(path));
  ::CoTaskMemFree(path);
  return folder;
}

// What one of the system's folder queries answers, with a trailing backslash; empty
// when it fails (the caller decides whether that is an error).
String QueryFolder(UINT (*query)(LPWSTR, UINT)) {
  wchar_t buffer[MAX_PATH];
  const UINT n = query(buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? IncludeTrailingBackslash(from_wcstr(buffer, n)) : String();
}

// The folder's path once every link, junction and mount point on the way is followed;
// empty when it cannot be opened or named.
String FinalFolderPath(const String& folder) {
  TFileHandle handle(::CreateFileW(as_wcstr(folder), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return {};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle.Get(), &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return {};
  String final(32768, u'\0');
  const DWORD n = ::GetFinalPathNameByHandleW(handle.Get(), as_wcstr(final), static_cast<DWORD>(final.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= final.size()) return {};
  final.resize(n);
  return ComparableFolder(final);
}

// Kinds that name one folder twice: the desktop as the shell sees it and as a folder.
int FolderKind(int csidl) { return csidl == CSIDL_DESKTOPDIRECTORY ? CSIDL_DESKTOP : csidl; }

}  // namespace

String SpecialFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  // Not created when missing: the setup names these folders here, it does not make them.
  if (FAILED(::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT, buffer)) ||
      buffer[0] == 0)
    return {};
  return IncludeTrailingBackslash(from_wcstr(buffer));
}

String CsidlFolder(int csidl) { return ComparableFolder(SpecialFolder(csidl)); }

String WindowsFolder() {
  String folder = QueryFolder(&::GetWindowsDirectoryW);
  if (folder.empty()) RaiseLastOSError(u"GetWindowsDirectory");
  return folder;
}

String SystemFolder() {
  String folder = QueryFolder(&::GetSystemDirectoryW);
  if (folder.empty()) RaiseLastOSError(u"GetSystemDirectory");
  return folder;
}

String Wow64SystemFolder() {
  String folder = QueryFolder([](LPWSTR buffer, UINT size) { return ::GetSystemWow64DirectoryW(buffer, size); });
  if (folder.empty() && ::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) RaiseLastOSError(u"GetSystemWow64Directory");
  return folder;
}

String ComparableFolder(StringView folder) {
  String path(folder);
  if (StartsWith(path, u"\\\\?\\UNC\\")) path = u"\\\\" + path.substr(8);
  else if (StartsWith(path, u"\\\\?\\")) path.erase(0, 4);
  return ExcludeTrailingBackslash(path);
}

bool IsVolumeRoot(const String& folder) {
  if (folder.size() == 2 && folder[1] == u':') return true;
  if (!StartsWith(folder, u"\\\\")) return folder.empty();
  // "\\server\share": the server and the share, nothing below.
  const size_t server = folder.find(u'\\', 2);
  return server == String::npos || folder.find(u'\\', server + 1) == String::npos;
}

bool IsWithinFolder(const String& folder, const String& root) {
  if (root.empty() || folder.size() < root.size()) return false;
  if (!SameText(StringView(folder).substr(0, root.size()), root)) return false;
  return folder.size() == root.size() || folder[root.size()] == u'\\';
}

std::vector<String> WindowsFolders() {
  std::vector<String> folders{ComparableFolder(WindowsFolder()), ComparableFolder(SystemFolder())};
  if (const String wow64 = Wow64SystemFolder(); !wow64.empty()) folders.push_back(ComparableFolder(wow64));
  return folders;
}

std::vector<TKnownFolder> SharedKnownFolders() {
  static const int kCsidls[] = {CSIDL_PROGRAM_FILES,
                                CSIDL_PROGRAM_FILESX86,
                                CSIDL_PROGRAM_FILES_COMMON,
                                CSIDL_PROGRAM_FILES_COMMONX86,
                                CSIDL_PROFILE,
                                CSIDL_DESKTOPDIRECTORY,
                                CSIDL_COMMON_DESKTOPDIRECTORY,
                                CSIDL_PERSONAL,
                                CSIDL_COMMON_DOCUMENTS,
                                CSIDL_MYMUSIC,
                                CSIDL_COMMON_MUSIC,
                                CSIDL_MYPICTURES,
                                CSIDL_COMMON_PICTURES,
                                CSIDL_MYVIDEO,
                                CSIDL_COMMON_VIDEO,
                                CSIDL_APPDATA,
                                CSIDL_LOCAL_APPDATA,
                                CSIDL_COMMON_APPDATA,
                                CSIDL_STARTMENU,
                                CSIDL_COMMON_STARTMENU};
  std::vector<TKnownFolder> folders;
  const auto add = [&folders](int csidl, const String& path) {
    if (!path.empty()) folders.push_back({csidl, path});
  };
  for (int csidl : kCsidls) add(csidl, CsidlFolder(csidl));
  // The programs folder without " (x86)", as the setup knows it.
  add(CSIDL_PROGRAM_FILES, ReplaceAll(CsidlFolder(CSIDL_PROGRAM_FILESX86), u" (x86)", u""));
  add(-1, KnownFolder(FOLDERID_Downloads));
  add(-1, KnownFolder(FOLDERID_Public));
  // The profiles root: the folder that holds the user's profile.
  const String profile = CsidlFolder(CSIDL_PROFILE);
  if (!profile.empty()) add(-1, ExcludeTrailingBackslash(ExtractFilePath(profile)));
  try {
    add(-1, ComparableFolder(LongTempFolder()));
  } catch (const Exception&) {
    // No temporary folder: nothing there to protect.
  }
  return folders;
}

std::vector<String> ListedProfileFolders() {
  std::vector<String> folders;
  for (const String& folder : TZELUserAccounts::ListedProfilePaths()) {
    const String path = ComparableFolder(folder);
    if (!path.empty()) folders.push_back(path);
  }
  return folders;
}

namespace {

// The rules for one spelling of the folder (the value, or where its links lead).
String PlaceReason(const String& path, int csidl, const String& own) {
  if (IsVolumeRoot(path)) return u"it is the root of a drive";
  for (const String& system : WindowsFolders())
    if (IsWithinFolder(path, system)) return u"it is a folder of Windows";
  for (int programs : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86})
    if (IsWithinFolder(path, CsidlFolder(programs))) return u"it lies in a program folder";
  // Only "<folder>\KIVO" is ever removed: as another known folder (the user's AppData,
  // a program folder), that would be another product's or the profile. Holding one is
  // normal (AppData holds the start menu).
  for (const TKnownFolder& known : SharedKnownFolders()) {
    if (known.Csidl >= 0 && FolderKind(known.Csidl) == FolderKind(csidl)) continue;
    if (SameText(known.Path, path)) return u"it is the folder \"" + known.Path + u"\"";
  }
  std::vector<String> profiles = ListedProfileFolders();
  profiles.push_back(CsidlFolder(CSIDL_PROFILE));
  // Another account's profile may neither hold the folder nor lie in it; test and
  // roaming set-ups may nest the folder's own profile in another, which then counts not.
  for (const String& profile : profiles) {
    if (profile.empty() || SameText(profile, own)) continue;
    if (IsWithinFolder(profile, path)) return u"it holds the profile of another account (\"" + profile + u"\")";
    if (IsWithinFolder(path, profile) && !IsWithinFolder(own, profile))
      return u"it lies in the profile of another account (\"" + profile + u"\")";
  }
  return {};
}

}  // namespace

String UnsafeShellFolderReason(StringView folder, int csidl, StringView ownProfile, String* usable) {
  const String given = ComparableFolder(Trim(folder));
  if (given.empty()) return u"it is empty";
  const String path = given.find(u'~') != String::npos ? ComparableFolder(LongPathName(given)) : given;
  const String own = ComparableFolder(ownProfile);
  String reason = PlaceReason(path, csidl, own);
  if (!reason.empty()) return reason;
  if (!DirectoryExists(path)) return String(kShellFolderMissing);
  const String final = FinalFolderPath(path);
  if (final.empty()) return u"it cannot be examined";
  // A folder reached through a link is judged by where it leads, and used there.
  if (!SameText(final, path)) {
    reason = PlaceReason(final, csidl, own);
    if (!reason.empty()) return u"it leads through a link to \"" + final + u"\": " + reason;
  }
  if (usable) *usable = final;
  return {};
}

}  // namespace zel
