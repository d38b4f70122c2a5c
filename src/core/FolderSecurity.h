#pragma once
// Who may change a folder: the destination the setup creates gets a protected DACL, and
// the elevated setup runs a program or loads a library from an installation only when
// no one but administrators and the system can change it there.
#include "library/Strings.h"

namespace kivo {

// Administrators and SYSTEM full control, Users read and execute, inherited by
// everything inside, nothing inherited from the parent.
extern const wchar_t* const kProtectedFolderSddl;

// Creates the folder (its parent must exist) with the protected DACL. False, with the
// last error set, when it cannot be created; true when it was created now.
bool CreateProtectedFolder(zel::StringView folder);

// Who besides administrators may change the file or folder at `path`: empty when no one;
// else the account or group, as "DOMAIN\name" (or its SID). Security that cannot be read
// counts as changeable by "an unknown account" (`readable` false). Looks at the owner (who may
// always rewrite the DACL) and at every allow entry that applies to the object itself
// and grants writing, appending, adding files or folders, deleting children, deleting,
// or changing the DACL or owner. Trusted: SYSTEM, Administrators, TrustedInstaller and,
// in an elevated process, the account running it.
zel::String NonAdminWriter(zel::StringView path);
zel::String NonAdminWriter(zel::StringView path, bool& readable);

// Whether the elevated setup may start or load `file` that lies in `folder`: the
// folder, every folder between it and the file, and the file itself must be changeable
// only by administrators. False with `reason` ("\"C:\KIVO\" can be changed by
// BUILTIN\Users") otherwise.
bool IsSafeToRun(zel::StringView folder, zel::StringView file, zel::String& reason);

}  // namespace kivo
