#include "core/ActionExtract.h"

#include <algorithm>
#include <optional>

#include "core/ApplicationRepository.h"
#include "core/Installer.h"
#include "package/InstallerErrors.h"
#include "package/InstallerScript.h"
#include "core/RunLog.h"
#include "library/win/FileSystem.h"
#include "library/win/SafeTree.h"
#include "platform/Platform.h"

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

std::vector<TStagedFiles::TItem> TInstallerActionExtract::StagedItems() {
  const zel::String& dest = Installer->DestPath();
  std::vector<TStagedFiles::TItem> items;
  FStagedBy.clear();
  for (const TInstallerScriptFile* file : CollectFiles()) {
    const zel::String target = Resources().ExpandPath(file->Name);
    // Not through a link in the destination: that fails where it is written, as before.
    if (target.size() <= dest.size() || !zel::StartsWithText(target, dest) ||
        !zel::platform::PathStaysInside(dest, target))
      continue;
    const zel::String relative = target.substr(dest.size());
    const zel::String key = zel::platform::CaseInsensitiveKey(relative);
    if (FStagedBy.count(key)) {
      auto same = std::find_if(items.begin(), items.end(), [&](const TStagedFiles::TItem& item) {
        return zel::platform::CaseInsensitiveKey(item.Relative) == key;
      });
      items.erase(same);
    }
    FStagedBy[key] = file;
    items.push_back({file, relative});
  }
  return items;
}

void TInstallerActionExtract::BeginAhead() {
  const zel::String& dest = Installer->DestPath();
  if (dest.empty() || FStaged) return;
  FStagedBy.clear();
  try {
    ForceFolder(dest);
    FStaged = std::make_unique<TStagedFiles>(
        dest, [this] { return StagedItems(); }, FAheadCancelled);
    Installer->AddOwnRunFolder(FStaged->Name());
    RunLog().Log(u"The new files are written ahead into: " + dest + FStaged->Name() + u"\\");
  } catch (const zel::Exception& e) {
    // Written in place instead, where any failure is reported in its turn.
    RunLog().Log(u"The new files are not written ahead (" + e.Message() + u")");
    FStaged.reset();
    FStagedBy.clear();
  }
}

void TInstallerActionExtract::AwaitAhead() {
  if (!FStaged) return;
  const ULONGLONG start = ::GetTickCount64();
  const bool complete = FStaged->Wait();
  const zel::String waited = zel::IntToStr(static_cast<int64_t>(::GetTickCount64() - start));
  RunLog().Log(complete ? u"The new files are written ahead (waited " + waited + u" ms for them)"
                        : u"The writing ahead stopped for a cancel (waited " + waited + u" ms)");
}

void TInstallerActionExtract::CancelAhead() noexcept { FAheadCancelled = true; }

void TInstallerActionExtract::DropAhead() noexcept {
  FStaged.reset();
  FStagedBy.clear();
}

void TInstallerActionExtract::PlaceStaged(const TInstallerScriptFile& file, zel::TFolderTree& dest,
                                          const zel::String& relative) {
  const zel::String target = Installer->DestPath() + relative;
  try {
    if (FStaged->MoveInto(dest, relative)) {
      RunLog().Log(u"Written: " + target + u" (put in place)");
      return;
    }
  } catch (const zel::ELinkedPathError&) {
    throw EInstallerInstallError(u"Cannot write \"" + target + u"\": a link in the destination folder leads out of it");
  }
  ExtractFile(file);
}

void TInstallerActionExtract::Execute() {
  FMade.clear();
  SetStatus(GetCommonText(u"A4"));
  if (FStaged && !FStaged->Wait()) {
    // Stopped for a cancel: nothing is written, and the run ends with this step.
    FStaged.reset();
    FStagedBy.clear();
    return;
  }
  const std::vector<const TInstallerScriptFile*> files = CollectFiles();
  const size_t count = files.size();
  // Every name is noted before the first is written, and journalled where the run keeps
  // the previous files aside: a run killed half-way has its new files removed by the next.
  for (const TInstallerScriptFile* file : files) NoteNew(Resources().ExpandPath(file->Name));
  const zel::String uninstaller = Installer->DestPath() + u"Uninstall.exe";
  NoteNew(uninstaller);
  NoteNew(zel::ChangeFileExt(uninstaller, u".dat"));
  if (IRunJournal* journal = Installer->RunJournal()) journal->NoteMade(FMade);
  std::optional<zel::TFolderTree> destTree;
  if (FStaged) destTree.emplace(zel::TSafeFolder::Open(Installer->DestPath()));
  for (size_t i = 0; i < count; ++i) {
    SetProgress(static_cast<int>((i + 1) * 100 / count));
    const TInstallerScriptFile& file = *files[i];
    if (FStaged) {
      const zel::String target = Resources().ExpandPath(file.Name);
      const zel::String relative = target.substr(std::min(target.size(), Installer->DestPath().size()));
      const auto staged = FStagedBy.find(zel::platform::CaseInsensitiveKey(relative));
      if (staged != FStagedBy.end() && zel::StartsWithText(target, Installer->DestPath())) {
        // Another entry of the same path is written after this one: it wins, as in order.
        if (staged->second == &file) PlaceStaged(file, *destTree, relative);
        continue;
      }
    }
    ExtractFile(file);
  }
  // Empty now, but for the copies of files that were in use.
  FStaged.reset();
  FStagedBy.clear();
  SetStatus(GetCommonText(u"A7"));
  // The entry as it was, for an undo: another version's, or none.
  FEntryBefore.reset();
  if (!Installer->HasFlag(TInstallerFlag::Portable)) {
    FEntryBefore = TInstallerApplicationRepository::Save(ProductInfo().GetName());
    if (IRunJournal* journal = Installer->RunJournal()) journal->NoteEntryBefore(*FEntryBefore);
  }
  RegisterUninstall(Installer->DestPath(), files);
}

void TInstallerActionExtract::Rollback() noexcept {
  FStaged.reset();
  FStagedBy.clear();
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
