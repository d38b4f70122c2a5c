#pragma once
// Existence tests that hold at any path length (the "\\?\" form for long paths).
#include "library/Strings.h"

namespace zel {

bool DirectoryExists(StringView path);
bool FileExists(StringView path);  // a file, not a folder

}  // namespace zel
