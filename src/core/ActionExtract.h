#pragma once
// The installation step that writes the product's files for the chosen language and
// then registers the uninstaller.
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "core/ApplicationRepository.h"
#include "core/InstallerAction.h"
#include "core/StagedFiles.h"

namespace kivo {

class TInstallerActionExtract : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionExtract)
public:
  // The files that go below the destination are written ahead into a run folder there
  // (StagedFiles.h) and put in place here by renames.
  void BeginAhead() override;
  void AwaitAhead() override;
  void DropAhead() noexcept override;
  void CancelAhead() noexcept override;
  void Execute() override;
  // The files this run made in the destination go again (the previous installation's,
  // kept aside by the prepare step, come back after this).
  void Rollback() noexcept override;
  // The Components entries of the chosen language's family and those of every language.
  std::vector<const TInstallerScriptFile*> CollectFiles();

private:
  std::optional<TSavedUninstallEntry> FEntryBefore;  // set once the entry is about to be written
  // The files this run makes, relative to the destination, noted before the first is
  // written: a file cut short by a failure goes too.
  std::vector<zel::String> FMade;
  void NoteNew(const zel::String& path);
  // The files below the destination, each path once; fills FStagedBy. On the writing thread.
  std::vector<TStagedFiles::TItem> StagedItems();
  // Puts the staged copy in place; a target in use gets the ordinary write and its question.
  void PlaceStaged(const TInstallerScriptFile& file, zel::TFolderTree& dest, const zel::String& relative);
  std::unique_ptr<TStagedFiles> FStaged;
  std::atomic<bool> FAheadCancelled{false};  // set from the main thread
  // Which entry's copy was staged for each relative path (the last entry of a path wins,
  // as it would when written in order).
  std::map<zel::String, const TInstallerScriptFile*> FStagedBy;
};

}  // namespace kivo
