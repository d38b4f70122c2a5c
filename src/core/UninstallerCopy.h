#pragma once
// The uninstaller's relay: it cannot remove its own file while it runs, so it hands the
// run over to a copy of itself in a private folder under the temporary folder.
#include <cstdint>

#include "library/Strings.h"

namespace kivo {

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
// True when the running file is named "Uninstall.exe" (any letter case).
bool IsUninstaller();

}  // namespace kivo
