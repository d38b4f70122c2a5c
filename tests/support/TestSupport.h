#pragma once
// Helpers shared by the unit tests.
#include <cstdint>
#include <string>
#include <vector>

#include "library/Strings.h"

namespace kivo::test {

// A file under tests/data, as a path the platform understands.
zel::String DataPath(zel::StringView name);
// A fresh, empty scratch folder for one test (removed at the next run, not at exit,
// so a failing test leaves its files to look at). Ends without a separator.
zel::String ScratchDir(zel::StringView name);
std::vector<uint8_t> ReadAll(zel::StringView path);
void WriteAll(zel::StringView path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Bytes(std::string_view text);

}  // namespace kivo::test
