#pragma once
// Existence tests that hold at any path length (the "\\?\" form for long paths).
#include "library/Strings.h"

namespace zel {

bool DirectoryExists(StringView path);
bool FileExists(StringView path);  // a file, not a folder

// The long form of an existing path (8.3 names such as "PROGRA~1" expanded); the path
// unchanged when the platform cannot give it.
String LongPathName(StringView path);
// The user's temporary folder, with a trailing backslash; raises EOSError (GetTempPath)
// when the platform has none.
String TempFolder();
// The same in its long form (GetTempPath may answer with 8.3 names).
String LongTempFolder();

// The file that a loaded module (null: this program) was loaded from, at any length;
// raises EOSError (GetModuleFileName) when the system cannot name it.
String ModuleFileName(void* module = nullptr);

}  // namespace zel
