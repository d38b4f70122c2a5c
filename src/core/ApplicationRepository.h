#pragma once
// The system's list of installed programs: the uninstall entries under
// HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall, in the 32-bit view where
// a 32-bit setup's entries have always lived.
#include "library/Strings.h"

namespace kivo {

class TInstallerApplicationRepository {
public:
  static constexpr const char16_t* UninstallKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

  // The registered folder: "InstallPath", else the folder of "UninstallString", else of
  // "DisplayIcon"; true only when that folder exists.
  static bool GetInstallPath(zel::StringView name, zel::String& path);
  static bool Register(zel::StringView name, zel::StringView uninstallerPath, zel::StringView version,
                       zel::StringView publisher, zel::StringView homePage, uint32_t estimatedSizeKB = 0);
  static bool Unregister(zel::StringView name);
};

// "C:\a\b.exe" -> "C:\a\"; a quoted command line's first token counts as the path.
zel::String FolderOfCommand(zel::StringView command);

}  // namespace kivo
