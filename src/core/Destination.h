#pragma once
// The destination folder as one value, and the folders it may never be. The setup
// runs elevated, and the uninstaller deletes its folder with contents: a destination
// such as "C:\", "C:\Windows\System32" or the user's profile must be refused before
// anything is written there.
#include "library/Strings.h"

namespace kivo {

// The one form of a destination that every later step uses: absolute (relative to the
// current folder), "/" read as "\", "." and ".." resolved, doubled separators collapsed,
// each element cleaned as target paths are, short names made long, with a trailing
// backslash. Never expands variables. Empty for an empty (or blank) text.
zel::String NormalizeDestPath(zel::StringView path);

// Why a folder cannot be a destination; the wizard words each kind in the user's language.
struct TRefusedDestination {
  enum class TKind { None, DriveRoot, WindowsFolder, SystemFolder, HoldsSystemFolder, OtherProfile };
  TKind Kind = TKind::None;
  zel::String HeldFolder;  // for HoldsSystemFolder: the system folder inside it; for OtherProfile: that profile

  explicit operator bool() const { return Kind != TKind::None; }
  // In English, for the log and the error of a silent run.
  zel::String Reason() const;
};

// Refused when a normalised folder must not be a destination: a drive or share root, the
// Windows folder or anything inside it, the system folders, a folder that is or holds
// one of the Program Files roots, the profiles root, the user's profile, desktop,
// documents, music, pictures, videos, downloads, application data, start menu or
// temporary folder, the public folders, and another account's profile ("ProfileList"),
// a folder that holds one, or anything inside one.
TRefusedDestination RefusedDestination(zel::StringView folder);
// The same, with the English reason.
bool IsRefusedDestination(zel::StringView folder, zel::String& reason);

}  // namespace kivo
