#pragma once
// The previous installation's files that a run replaces or removes, kept until the run is
// complete: moved by handle into a private folder inside the destination (the same
// volume, so a move is a rename) instead of being deleted. A run that succeeds deletes the
// folder; one that fails or is cancelled moves every file back. A journal in the folder
// lets the next run finish what a killed run left: a folder marked committed is deleted,
// any other is moved back and the archive of that run removed.
//
// Folder layout: "~KIVO Setup <16 hex digits>\" holding "journal.txt" (UTF-8: a first line
// naming the format, then "archive<TAB>name", "renamed<TAB>from<TAB>to" for each migrated
// name, "made<TAB>relative" for each file the run is about to make in the destination and,
// once a file outside the destination was deleted, "outside"), "committed" once the run is
// complete, and "files\" with the kept files under their paths relative to the destination.
#include <optional>
#include <vector>

#include "core/Installer.h"
#include "core/RunFolder.h"
#include "library/win/SafeTree.h"

namespace kivo {

class TSetAside : public IRunJournal {
public:
  // The private folders' names begin with this.
  static constexpr zel::StringView kPrefix = kRunFolderPrefix;

  // Makes the private folder in the destination and writes its journal.
  void Begin(zel::TFolderTree& dest, zel::StringView archiveName);
  bool Active() const { return FFolder.has_value(); }
  // Moves the file `relative` (below the destination) into the folder; false when it
  // cannot be moved (in use, a link), and then it is where it was.
  bool Keep(zel::TFolderTree& dest, zel::StringView relative);
  // A file outside the destination was deleted: the archive of this run is then the
  // only copy of it, and a roll-back keeps it.
  void NoteDeletedOutside();
  // A file is about to be renamed (a migration to the new version's names): a roll-back
  // renames it back when the old name is free.
  void NoteRenamed(zel::StringView from, zel::StringView to);
  // Files the run is about to make (relative to the destination): a roll-back by the next
  // run removes them, before the kept files come back.
  void NoteMade(const std::vector<zel::String>& relative) override;
  // Kept in the registry under the folder's name (ApplicationRepository.h) until the run
  // is complete; the next run puts it back when this one was killed. Never throws.
  void NoteEntryBefore(const TSavedUninstallEntry& entry) override;

  // The run is complete: the kept files go.
  void Commit(zel::TFolderTree& dest) noexcept;
  // The run failed: every kept file goes back to its place (replacing what the run wrote
  // there), and the run's archive is removed unless it is the only copy of a file.
  void Rollback(zel::TFolderTree& dest) noexcept;

  // Finishes what killed runs left in the destination: committed folders are deleted,
  // the others rolled back. Called before anything else of a run touches the folder;
  // `own` names the folders this run has made already (its new files written ahead).
  static void Recover(zel::TFolderTree& dest, const std::vector<zel::String>& own = {}) noexcept;

private:
  static void MoveBack(zel::TFolderTree& dest, zel::TFolderTree& kept, const zel::String& relative);
  struct TRename {
    zel::String From, To;
  };
  struct TUndo {
    zel::String ArchiveName;
    bool KeepArchive = false;
    std::vector<TRename> Renames;
    std::vector<zel::String> Made;  // only from a killed run's journal: a live run's action removes its own
  };
  static void RollBackFolder(zel::TFolderTree& dest, const zel::String& name, const TUndo& undo) noexcept;
  static void RenameBack(const TRename& rename) noexcept;
  // The entry a killed run kept (NoteEntryBefore), back in its place.
  static void RestoreKeptEntry(const zel::String& run) noexcept;
  void AppendJournal(zel::StringView line);

  std::optional<zel::TSafeFolder> FFolder;
  std::optional<zel::TFolderTree> FFiles;  // FFolder's "files\"
  zel::String FName;                       // FFolder's name in the destination
  zel::String FArchiveName;
  bool FDeletedOutside = false;
  std::vector<TRename> FRenames;
};

}  // namespace kivo
