#pragma once
// The installation step that writes the product's files for the chosen language and
// then registers the uninstaller.
#include <optional>
#include <vector>

#include "core/ApplicationRepository.h"
#include "core/InstallerAction.h"

namespace kivo {

class TInstallerActionExtract : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionExtract)
public:
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
};

}  // namespace kivo
