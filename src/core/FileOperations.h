#pragma once
// Copying and deleting the files an operation names, with a clear error, never through
// a link, and deleting at the next restart what is in use now.
#include "library/Strings.h"

namespace kivo {

// Copies, replacing an existing target; raises EOSError with "Source -> Target".
void CopyFileOrRaise(zel::StringView source, zel::StringView target);
// Asks the platform to delete the file at the next restart (needs administrator rights).
bool DeleteAtReboot(zel::StringView fileName);
// Deletes a file by handle (a link as a link, never its target); one that is in use is
// moved into a private folder that users cannot change and deleted from there at the next
// restart. Never reports a failure; true when the file has left its place.
bool SafeDeleteFile(zel::StringView fileName);

}  // namespace kivo
