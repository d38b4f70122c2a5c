#pragma once
// The package tool's commands for a vendor's own setup: the component list of
// Install.xml for a folder, a consistency check of the two folders, and (on Windows) a
// Setup.exe made from a prebuilt one with the vendor's packages in place of its own.
#include <cstdint>
#include <filesystem>
#include <vector>

#include "library/Strings.h"

namespace ipktool {

int CmdComponents(const std::vector<zel::String>& args);
int CmdCheck(const std::vector<zel::String>& args);
int CmdSetup(const std::vector<zel::String>& args);
int CmdIdentity(const std::vector<zel::String>& args);

// What Windows shows of a setup program made from a setup folder: the version strings
// from Install.xml's settings and the icon "Setup.ico" of the folder (empty when it has
// none).
struct TSetupIdentity {
  zel::String CompanyName, FileDescription, FileVersion, ProductName, ProductVersion;
  uint16_t FixedVersion[4] = {};
  std::filesystem::path Icon;
};
TSetupIdentity SetupIdentity(const std::filesystem::path& setupFolder);

// The folder named by `text`; ExitFailure when it is not one.
std::filesystem::path ExistingFolder(const zel::String& text);
// ExitRefused, with every problem listed, when the setup made of the two folders would
// fail at run time.
void RequireConsistent(const std::filesystem::path& setupFolder, const std::filesystem::path& productFolder);

}  // namespace ipktool
