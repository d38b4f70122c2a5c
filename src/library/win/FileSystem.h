#pragma once
// Existence tests that hold at any path length (the "\\?\" form for long paths).
#include "library/Strings.h"

namespace zel {

bool DirectoryExists(StringView path);
bool FileExists(StringView path);  // a file, not a folder

// The long form of an existing path (8.3 names such as "PROGRA~1" expanded); the path
// unchanged when the platform cannot give it.
String LongPathName(StringView path);
// The user's temporary folder in its long form (GetTempPath may answer with 8.3 names),
// with a trailing backslash; raises EOSError when the platform has none.
String LongTempFolder();

}  // namespace zel
