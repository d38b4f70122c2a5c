#pragma once
// What a later uninstallation needs: Uninstall.exe (a copy of this program), Uninstall.dat
// (a package whose only member "Uninstall.ini" lists the installed files and the user's
// choices) and, unless portable, the entry in the system's list of installed programs.
#include <vector>

#include "library/IniFile.h"

namespace kivo {

class TInstallerScriptFile;

constexpr const char16_t* kUninstallerName = u"Uninstall.exe";

void RegisterUninstall(zel::StringView destPath, const std::vector<const TInstallerScriptFile*>& files);

// Appends one installed file to the "Uninstall" section: relative to destPath when it
// lies inside it (letter case ignored), else the full path.
void AddUninstallEntry(zel::TZELIniFile& ini, zel::StringView destPath, zel::StringView expandedPath);

}  // namespace kivo
