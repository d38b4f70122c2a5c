#pragma once
// Makes the destination ready for the new files: archives the previous installation and
// the users' profiles into "!Backup\", collects what is to go (the archived files, old
// backups beyond three, leftovers of older versions, the files the new version writes),
// runs the update tasks over that list, then deletes it and the folders left empty.
// Nothing is deleted before the archive has been closed and read back.
#include <map>
#include <memory>
#include <vector>

#include "core/InstallerAction.h"
#include "product/ProfileHelper.h"
#include "product/SetAside.h"
#include "product/SetupHelper.h"
#include "product/UpdateTasks.h"

namespace kivo {

class TInstallerActionPrepare : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionPrepare)
public:
  TInstallerActionPrepare();
  ~TInstallerActionPrepare() override;

  void Execute() override;
  void BuildSummary(TInstallerSummaryBuilder& builder) override;
  // The replaced files kept in the destination go (success), or go back (failure).
  void Commit() noexcept override;
  void Rollback() noexcept override;

  // A backup of this many bytes or more is refused.
  static constexpr uint64_t kBackupLimit = uint64_t(1) << 31;

  // The setup page's warning, empty when none applies: another installation is there and
  // this run is no update.
  static zel::String ExistingInstallationWarning();
  // The destination holds a version newer than this setup's: installing takes it back to
  // an older one (no update can), which the wizard asks about and a silent run logs.
  static bool IsDowngrade();
  // The summary names the backup only when there is something to archive: an earlier
  // installation or any file in the destination.
  static bool HasAnythingToBackUp();

  TInstallerProfileInfoList& Profiles() const { return *FProfiles; }
  const std::vector<std::unique_ptr<TInstallerUpdateTask>>& Tasks() const { return FTasks; }
  int32_t UnitTotal() const { return FUnitTotal; }

  struct TBackupItem {
    zel::String Path;      // full path
    zel::String Name;      // name inside the archive
    zel::String Root;      // the folder it was found in (the destination or an old profile)
    zel::String Relative;  // its path below Root
  };

private:
  void PopulateTasks();
  void Backup(TInstallerCleanupList& cleanup);
  void WriteArchive(const std::vector<TBackupItem>& items);
  void AddOldBackups(TInstallerCleanupList& cleanup);
  void AddLeftovers(TInstallerCleanupList& cleanup);
  void DeleteListed(const TInstallerCleanupList& cleanup);
  // The folder that entry belongs to (destination, a profile folder, the system folder),
  // or empty when it belongs to none of them.
  zel::String RootOf(const zel::String& entry) const;
  // The held folder tree of a root: every file below it is opened through it, never
  // through a link. Null when the root is missing (made when `create` says so) or is (or
  // lies behind) a link.
  zel::TFolderTree* TreeOf(const zel::String& root, bool create = false);
  void ReportProgress();  // done counter * 100 / unit total

  std::unique_ptr<TInstallerProfileInfoList> FProfiles;
  std::vector<std::unique_ptr<TInstallerUpdateTask>> FTasks;
  int32_t FDone = 0;
  int32_t FUnitTotal = 0;
  std::vector<zel::String> FArchived;  // every file selected for the backup
  zel::String FSystemFolder;
  std::map<zel::String, std::unique_ptr<zel::TFolderTree>> FTrees;  // by case-insensitive root
  zel::String FArchiveName;  // the backup of this run, in "!Backup\"; empty when none
  TSetAside FSetAside;
};

// The obsolete plug-in folders under "Plugins\" and the installed versions they are
// removed below (0: always).
struct TObsoletePluginFolder {
  const char16_t* Folder;
  int32_t RemovedBelow;
};
extern const TObsoletePluginFolder kObsoletePluginFolders[9];

}  // namespace kivo
