#include "core/Destination.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/KnownFolders.h"
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
    case TKind::OtherProfile: return u"it is in the profile of another account (\"" + HeldFolder + u"\")";
    case TKind::None: break;
  }
  return {};
}

TRefusedDestination RefusedDestination(StringView folder) {
  using TKind = TRefusedDestination::TKind;
  const String path = zel::ComparableFolder(folder);
  if (zel::IsVolumeRoot(path)) return {TKind::DriveRoot, {}};
  // Everything under the Windows folder belongs to the system.
  for (const String& system : zel::WindowsFolders())
    if (zel::IsWithinFolder(path, system)) return {TKind::WindowsFolder, {}};
  // These may hold an installation, but neither be one nor lie inside one: uninstalling
  // deletes the destination with everything in it.
  for (const zel::TKnownFolder& special : zel::SharedKnownFolders()) {
    if (zel::IsWithinFolder(special.Path, path))
      return zel::SameText(special.Path, path) ? TRefusedDestination{TKind::SystemFolder, {}}
                                               : TRefusedDestination{TKind::HoldsSystemFolder, special.Path};
  }
  // Another account's files are not the running user's to install over or uninstall:
  // neither its profile, nor a folder holding it, nor anything inside it.
  const String own = zel::CsidlFolder(CSIDL_PROFILE);
  for (const String& profile : zel::ListedProfileFolders()) {
    if (zel::SameText(profile, own) || zel::IsWithinFolder(own, profile)) continue;
    if (zel::IsWithinFolder(profile, path) || zel::IsWithinFolder(path, profile)) return {TKind::OtherProfile, profile};
  }
  return {};
}

bool IsRefusedDestination(StringView folder, String& reason) {
  const TRefusedDestination refused = RefusedDestination(folder);
  reason = refused.Reason();
  return static_cast<bool>(refused);
}

}  // namespace kivo
