#include "package/win/ActionExtract.h"

#include <optional>

#include "core/ApplicationRepository.h"
#include "core/Installer.h"
#include "core/InstallerScript.h"
#include "core/RunLog.h"
#include "library/win/FileSystem.h"
#include "library/win/SafeTree.h"

namespace kivo {

std::vector<const TInstallerScriptFile*> TInstallerActionExtract::CollectFiles() {
  const zel::String family = Resources().GetLanguageFamily();
  const TInstallerScriptGroup& components = Script().Components;
  std::vector<const TInstallerScriptFile*> files;
  files.reserve(512);
  for (size_t i = 0; i < components.Count(); ++i)
    if (MatchesLangFamily(components.Items(i), family)) files.push_back(&components.Items(i));
  return files;
}

void TInstallerActionExtract::NoteNew(const zel::String& path) {
  // Only what was not there: a file that is (one in use, which could not be set aside)
  // belongs to the previous installation.
  const zel::String& dest = Installer->DestPath();
  if (!dest.empty() && zel::StartsWithText(path, dest) && !zel::FileExists(path))
    FMade.push_back(path.substr(dest.size()));
}

void TInstallerActionExtract::Execute() {
  FMade.clear();
  SetStatus(GetCommonText(u"A4"));
  const std::vector<const TInstallerScriptFile*> files = CollectFiles();
  const size_t count = files.size();
  // Every name is noted before the first is written, and journalled where the run keeps
  // the previous files aside: a run killed half-way has its new files removed by the next.
  for (const TInstallerScriptFile* file : files) NoteNew(Resources().ExpandPath(file->Name));
  const zel::String uninstaller = Installer->DestPath() + u"Uninstall.exe";
  NoteNew(uninstaller);
  NoteNew(zel::ChangeFileExt(uninstaller, u".dat"));
  if (IRunJournal* journal = Installer->RunJournal()) journal->NoteMade(FMade);
  for (size_t i = 0; i < count; ++i) {
    SetProgress(static_cast<int>((i + 1) * 100 / count));
    ExtractFile(*files[i]);
  }
  SetStatus(GetCommonText(u"A7"));
  // The entry as it was, for an undo: another version's, or none.
  FEntryBefore.reset();
  if (!Installer->HasFlag(TInstallerFlag::Portable))
    FEntryBefore = TInstallerApplicationRepository::Save(ProductInfo().GetName());
  RegisterUninstall(Installer->DestPath(), files);
}

void TInstallerActionExtract::Rollback() noexcept {
  if (FEntryBefore) {
    const bool restored = TInstallerApplicationRepository::Restore(*FEntryBefore);
    RunLog().Log(restored ? (FEntryBefore->Existed ? u"Uninstall entry as it was (the run is undone): "
                                                   : u"Uninstall entry removed (the run is undone): ") +
                                FEntryBefore->Name
                          : u"Uninstall entry not put back: " + FEntryBefore->Name);
    if (!restored) Installer->NoteUndoFailure();
    FEntryBefore.reset();
  }
  if (FMade.empty()) return;
  const zel::String& dest = Installer->DestPath();
  try {
    // No folder: the run failed before it could make one, and there is nothing to remove.
    std::optional<zel::TSafeFolder> folder = zel::TSafeFolder::OpenIfExists(dest);
    if (!folder) {
      FMade.clear();
      return;
    }
    zel::TFolderTree tree(std::move(*folder));
    zel::RemoveFilesAndEmptiedFolders(tree, FMade, [&](const zel::String& relative, const zel::String& error) {
      if (!error.empty()) Installer->NoteUndoFailure();
      RunLog().Log(error.empty() ? u"Removed (the run is undone): " + dest + relative
                                 : u"Not removed (" + error + u"): " + dest + relative);
    });
  } catch (const zel::Exception& e) {
    RunLog().Log(u"The files of the undone run cannot all be removed (" + e.Message() + u")");
    Installer->NoteUndoFailure();
  }
  FMade.clear();
}

}  // namespace kivo
