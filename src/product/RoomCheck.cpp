#include "library/win/FileSystem.h"
#include "product/RoomCheck.h"

#include <windows.h>

#include "core/Installer.h"
#include "package/InstallerScript.h"
#include "core/RunLog.h"
#include "library/win/SafeTree.h"
#include "package/SetupPackage.h"
#include "platform/Platform.h"
#include "product/BackupFolder.h"
#include "product/ProfileHelper.h"

namespace kivo {

using zel::String;

namespace {

constexpr zel::StringView kBackupFolder = u"!Backup\\";
// What a file takes beyond its bytes (its last cluster, its entry): a bound, not a guess.
constexpr uint64_t kPerFile = 4096;
// Uninstall.dat: the list of installed files, compressed; far below this.
constexpr uint64_t kUninstallData = 1 << 20;

uint64_t FileSize(const String& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(zel::as_wcstr(zel::platform::ExtendedLengthPath(path)), GetFileExInfoStandard, &data))
    return 0;
  return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The bytes of every file below folder that a backup would archive (links are not).
uint64_t TreeBytes(const String& folder, bool skipBackups) {
  uint64_t bytes = 0;
  try {
    std::optional<zel::TSafeFolder> root = zel::TSafeFolder::OpenIfExists(folder);
    if (!root) return 0;
    zel::ForEachFile(
        *root,
        [&](const zel::TSafeFolder&, const zel::TFolderEntry& entry, const String&) {
          if (!entry.IsLink()) bytes += entry.Size + kPerFile;
        },
        [&](const String& relative) { return skipBackups && zel::SameText(relative, kBackupFolder); });
  } catch (const zel::Exception& e) {
    // The backup itself reports what it cannot read; here it only counts less.
    RunLog().Log(u"Not measured (" + e.Message() + u"): " + folder);
  }
  return bytes;
}

}  // namespace

std::vector<TRoomNeed> RoomNeededForInstall() {
  TInstallerResources& resources = Installer->Resources();
  const String dest = Installer->DestPath();
  uint64_t product = 0;
  const String family = resources.GetLanguageFamily();
  const auto& components = resources.Script().Components;
  for (size_t i = 0; i < components.Count(); ++i) {
    const TInstallerScriptFile& entry = components.Items(i);
    if (!MatchesLangFamily(entry, family)) continue;
    const String member = entry.GetTextOrName();
    const TSetupPackageFileTableItem* item = resources.ProductPackage().FileTable().Find(member);
    if (!item) item = resources.SetupPackage().FileTable().Find(member);
    if (item) product += static_cast<uint64_t>(item->Size) + kPerFile;
  }
  uint64_t backup = 0;
  if (!Installer->HasFlag(TInstallerFlag::NoBackup)) {
    backup = TreeBytes(dest, true);
    if (!Installer->HasFlag(TInstallerFlag::Portable)) {
      TInstallerProfileInfoList profiles;
      TInstallerProfileHelper::PopulateProfiles(profiles);
      for (const auto& profile : profiles) backup += TreeBytes(profile->OldProfilePath, false);
    }
  }
  const uint64_t uninstaller = FileSize(zel::ModuleFileName()) + kUninstallData;
  RunLog().Log(u"Room needed in " + dest + u": the product's files " + FormatBytes(product) + u", the backup at most " +
               FormatBytes(backup) + u", the uninstaller " + FormatBytes(uninstaller));
  return {{dest, product + backup + uninstaller, 0}};
}

void CheckRoomForInstall() {
  const String dest = Installer->DestPath();
  if (dest.empty()) return;
  try {
    if (std::optional<zel::TSafeFolder> root = zel::TSafeFolder::OpenIfExists(dest))
      if (std::optional<zel::TSafeFolder> backups = root->OpenFolder(kBackupFolder.substr(0, kBackupFolder.size() - 1)))
        RemoveStaleParts(*backups);
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Unfinished backups left alone (" + e.Message() + u"): " + dest + String(kBackupFolder));
  }
  // Measured after the removal: what it freed is free again.
  CheckRoom(RoomNeededForInstall());
}

}  // namespace kivo
