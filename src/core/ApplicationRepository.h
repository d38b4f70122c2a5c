#pragma once
// The system's list of installed programs: the uninstall entries under
// HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall, in the 32-bit view where
// a 32-bit setup's entries have always lived.
#include <cstdint>
#include <optional>
#include <vector>

#include "library/Strings.h"

namespace kivo {

// An uninstall entry as it was (its values), to be put back when a run is undone.
struct TSavedUninstallEntry {
  struct TValue {
    zel::String Name;
    unsigned long Type;
    std::vector<uint8_t> Data;
  };
  zel::String Name;
  bool Existed = false;
  std::vector<TValue> Values;
};

class TInstallerApplicationRepository {
public:
  static constexpr const char16_t* UninstallKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

  // The registered folder: "InstallPath", else the folder of "UninstallString", else of
  // "DisplayIcon"; true only when that folder exists.
  static bool GetInstallPath(zel::StringView name, zel::String& path);
  static bool Register(zel::StringView name, zel::StringView uninstallerPath, zel::StringView version,
                       zel::StringView publisher, zel::StringView homePage, uint32_t estimatedSizeKB = 0);
  static bool Unregister(zel::StringView name);
  // The entry's values now (Existed false when there is none).
  static TSavedUninstallEntry Save(zel::StringView name);
  // The entry as saved: what is there now goes, and a saved entry is written back.
  static bool Restore(const TSavedUninstallEntry& saved);

  // A saved entry kept where only administrators write, under the name of the run that
  // may replace it (a run folder's name), so that the run after a killed one can put it
  // back: never in the destination, whose files another user may be able to forge.
  static constexpr const char16_t* UndoKey = u"Software\\KIVO Setup\\Undo\\";
  static void KeepForUndo(const TSavedUninstallEntry& saved, zel::StringView run);  // raises EOSError
  static std::optional<TSavedUninstallEntry> KeptForUndo(zel::StringView run);
  static void DropKeptForUndo(zel::StringView run);
};

// "C:\a\b.exe" -> "C:\a\"; a quoted command line's first token counts as the path.
zel::String FolderOfCommand(zel::StringView command);

}  // namespace kivo
