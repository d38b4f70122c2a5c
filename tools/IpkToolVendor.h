#pragma once
// The package tool's commands for a vendor's own setup: the component list of
// Install.xml for a folder, a consistency check of the two folders, and (on Windows) a
// Setup.exe made from a prebuilt one with the vendor's packages in place of its own.
#include <vector>

#include "library/Strings.h"

namespace ipktool {

int CmdComponents(const std::vector<zel::String>& args);
int CmdCheck(const std::vector<zel::String>& args);
int CmdSetup(const std::vector<zel::String>& args);

}  // namespace ipktool
