#pragma once
// Small steps that remove what an older installation left in Windows, or migrate one
// profile to the layout of the version being installed. The prepare action runs them
// between the backup and the deletion of old files; the uninstall action runs three.
#include <cstdint>
#include <vector>

#include "core/ApplicationRepository.h"
#include "core/InstallerAction.h"
#include "product/SetupHelper.h"

namespace kivo {

class TInstallerProfileInfo;

class TSetAside;

// The machine-wide registration (uninstall entry, common shortcuts, file types, context
// menu) is this installation's unless an uninstall entry names another folder; logs
// "Left alone: <what>" when it is not.
bool OwnsRegistration(zel::StringView what);

class TInstallerUpdateTask : public TInstallerPersistent {
public:
  // cleanup: the files to delete later; null when the uninstall action runs the task.
  virtual void Execute(TInstallerCleanupList* cleanup) = 0;
  virtual const char* ClassName() const = 0;
  // Where a task notes what a failed run must undo (renames, files kept aside); null:
  // nothing is undone (the uninstall), and the task keeps nothing to put back.
  void SetUndo(TSetAside* undo) { FUndo = undo; }
  // Puts back what Execute removed outside the kept files (registrations, entries,
  // shortcuts), after the kept files are in place again.
  virtual void Undo() noexcept {}

protected:
  TSetAside* FUndo = nullptr;
};

// Unregisters and deletes the shell context-menu libraries of older versions.
class TInstallerUpdateTaskRemoveShellMenu : public TInstallerUpdateTask {
public:
  void Execute(TInstallerCleanupList* cleanup) override;
  // Registers the libraries again that it unregistered (they are back in place by then).
  void Undo() noexcept override;
  const char* ClassName() const override { return "TInstallerUpdateTaskRemoveShellMenu"; }

private:
  std::vector<zel::String> FUnregistered;
};

// Runs "Elevator.exe /REG=U". The uninstall entry goes later, as the uninstall's last step.
class TInstallerUpdateTaskRemoveFromRegistry : public TInstallerUpdateTask {
public:
  void Execute(TInstallerCleanupList* cleanup) override;
  const char* ClassName() const override { return "TInstallerUpdateTaskRemoveFromRegistry"; }
};

// Deletes the uninstall entries of this product's names (the product name, "KIVO3" for
// KIVO) that point into the destination.
class TInstallerUpdateTaskRemoveUninstallInfo : public TInstallerUpdateTask {
public:
  void Execute(TInstallerCleanupList* cleanup) override;
  // The removed entries come back with every value they had.
  void Undo() noexcept override;
  const char* ClassName() const override { return "TInstallerUpdateTaskRemoveUninstallInfo"; }

private:
  std::vector<TSavedUninstallEntry> FRemoved;
};

// Copies one profile to its new folder, renames files of version 3 and drops old files.
class TInstallerUpdateTaskUpdateConfigs : public TInstallerUpdateTask {
public:
  explicit TInstallerUpdateTaskUpdateConfigs(TInstallerProfileInfo& profile) : FProfile(profile) {}
  void Execute(TInstallerCleanupList* cleanup) override;
  const char* ClassName() const override { return "TInstallerUpdateTaskUpdateConfigs"; }
  TInstallerProfileInfo& Profile() const { return FProfile; }

private:
  void Migrate(TInstallerCleanupList* cleanup);

  TInstallerProfileInfo& FProfile;  // owned by the profile list
};

// Deletes the product's desktop shortcuts and start-menu folders.
class TInstallerUpdateTaskRemoveShortcuts : public TInstallerUpdateTask {
public:
  void Execute(TInstallerCleanupList* cleanup) override;
  // The deleted links (and start-menu folders) are written back, byte for byte, where
  // nothing has taken their place.
  void Undo() noexcept override;
  const char* ClassName() const override { return "TInstallerUpdateTaskRemoveShortcuts"; }

private:
  struct TSavedFile {
    zel::String Folder;    // the shell folder
    zel::String Relative;  // below it
    std::vector<uint8_t> Bytes;
  };
  void Save(const zel::String& folder, const zel::String& name, bool isFolder);
  std::vector<TSavedFile> FDeleted;
};

// The two files of the dark skin that versions before 4.50 installed under "Skins\".
extern const char16_t* const kObsoleteSkinFiles[2];

}  // namespace kivo
