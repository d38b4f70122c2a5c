#pragma once
// The folders that Windows and the machine's accounts own, in one comparable form, and
// the test that a shell folder read from a user's own settings is safe to clean up in.
// The setup runs elevated: a user who may set their "Start Menu" or "AppData" to any
// text must not make it delete anything but their own files.
#include <vector>

#include "library/Strings.h"

namespace zel {

// Folder without its trailing backslash and without an extended-length prefix.
String ComparableFolder(StringView folder);
// "C:", "\\server\share" (in the comparable form), or empty.
bool IsVolumeRoot(const String& folder);
// Inside or equal, element by element ("C:\Windows2" is not inside "C:\Windows").
bool IsWithinFolder(const String& folder, const String& root);

// The folder the system names for `csidl` (CSIDL_APPDATA, ...), with a trailing
// backslash, whether it exists or not; empty when the system names none. Never a
// stand-in: a folder put in place of a missing one would get the setup's files, or lose
// its own to a clean-up.
String SpecialFolder(int csidl);
// The same, comparable; empty if none.
String CsidlFolder(int csidl);

// The Windows folder and the system folder, with a trailing backslash; raise EOSError
// naming the call when the system cannot tell.
String WindowsFolder();
String SystemFolder();
// The system folder of 32-bit programs on 64-bit Windows (SysWOW64), with a trailing
// backslash; empty on 32-bit Windows, which has none.
String Wow64SystemFolder();
// The three above, comparable (the last one only where it exists).
std::vector<String> WindowsFolders();

// A folder the platform names, with the CSIDL it was asked for (-1 for the few that
// have none: the profiles root, Downloads, Public, the temporary folder).
struct TKnownFolder {
  int Csidl = -1;
  String Path;  // comparable; never empty in the list
};
// The user's and the machine's folders that may hold an installation but neither be one
// nor lie inside one: program folders, the profile and the profiles root, desktop,
// documents, music, pictures, videos, downloads, application data, start menu, the
// public folders and the temporary folder.
std::vector<TKnownFolder> SharedKnownFolders();

// The profile folder of every account the machine lists ("ProfileList"), variables
// expanded, comparable; the running account's is among them on Windows.
std::vector<String> ListedProfileFolders();

// Why a shell folder of the kind `csidl` (CSIDL_STARTMENU, CSIDL_APPDATA, ...) that
// belongs to the profile `ownProfile` must not be used; empty when it may, and then
// `usable` receives its final path (the one to work in). Refused: a drive root,
// anything in the Windows folder or a program folder, a folder that is another known
// folder, a folder that is, holds or lies inside another account's profile; a folder
// reached through a link by the same rules for where the link leads. A folder that does
// not exist is refused too (kShellFolderMissing): there is nothing of ours in it.
String UnsafeShellFolderReason(StringView folder, int csidl, StringView ownProfile, String* usable = nullptr);
// The reason a missing folder gets.
extern const StringView kShellFolderMissing;

}  // namespace zel
