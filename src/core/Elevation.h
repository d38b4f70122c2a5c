#pragma once
// The two relays of start-up and the process and file services that go with them:
// restarting elevated, handing the uninstaller over to a copy in the temporary folder,
// copying with a clear error, deleting now or at the next restart, running a program
// and waiting, and calling a library's unregistration entry.
#include <cstdint>

#include "library/Strings.h"

namespace kivo {

// Starts the program's own file with the verb "runas" and "/SKIPUAC=<server window>
// <params>", after making this process the spawn server, and waits for the elevated
// copy while serving its spawn requests. False when the user declined the elevation
// prompt; other failures raise EOSError. exitCode receives the copy's exit code.
bool RunElevated(zel::StringView params, uint32_t* exitCode = nullptr);
// The same for a given program file (tests start a probe instead of themselves).
bool RunElevatedFile(zel::StringView program, zel::StringView params, uint32_t* exitCode = nullptr);

// Copies the running uninstaller and its .dat file into a new private folder under the
// temporary folder, starts the copy from there by its absolute path with
// "/PATH="<our folder>" <params>", waits for it (serving sent messages) and returns its
// exit code. The copies are held open against writing until the copy has ended, and
// removed with their folder afterwards (and at the next restart, should that fail).
uint32_t RunUninstallerFromTemp(zel::StringView params);
uint32_t RunUninstallerFromTemp(zel::StringView ownFile, zel::StringView params);

// A folder of its own under the temporary folder: `prefix` and 16 random hex digits, a
// new name created by this process; when elevated, only administrators and the system
// may change it.
zel::String CreatePrivateTempFolder(zel::StringView prefix = u"KIVO Uninstall ");
// True when the folder is the temporary folder or one that CreatePrivateTempFolder made.
bool IsTempCopyFolder(zel::StringView folder);
// Copies FileName into folder (replacing an earlier copy), schedules the copy for
// deletion at the next restart and returns its full path.
zel::String CopyToTemp(zel::StringView fileName, zel::StringView folder);
// Copies, replacing an existing target; raises EOSError with "Source -> Target".
void CopyFileOrRaise(zel::StringView source, zel::StringView target);
// Asks the platform to delete the file at the next restart (needs administrator rights).
bool DeleteAtReboot(zel::StringView fileName);
// Deletes a file by handle (a link as a link, never its target); one that is in use is
// moved into a private folder that users cannot change and deleted from there at the next
// restart. Never reports a failure; true when the file has left its place.
bool SafeDeleteFile(zel::StringView fileName);
// Runs a command line and waits for the process to end. False when it cannot be started
// or does not become ready for input within 5 seconds.
bool RunAndWait(zel::StringView commandLine);
// Starts a program by its absolute path, passed both as the application name and quoted
// as the first word of the command line (so a blank in the path cannot start another
// program), followed by `switches` as given (each with its own leading blank), shown
// with SW_SHOW, and waits without a time limit until it ends. False when it does not
// start. Its exit code is not read.
bool RunProgramAndWait(zel::StringView program, zel::StringView switches);

// True when the running file is named "Uninstall.exe" (any letter case).
bool IsUninstaller();

class TInstallerActiveX {
public:
  TInstallerActiveX() = delete;
  // Loads the library and calls its "DllUnregisterServer"; a library that does not load
  // or has no such export is passed over silently.
  static void Unregister(zel::StringView fileName);
  // The same with "DllRegisterServer", to register a library again; false when it was
  // not called.
  static bool Register(zel::StringView fileName);
};

}  // namespace kivo
