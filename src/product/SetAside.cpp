#include "product/SetAside.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "core/ApplicationRepository.h"
#include "core/RunFolder.h"
#include "core/RunLog.h"
#include "product/BackupFolder.h"
#include "library/win/FileSystem.h"
#include "library/win/OSError.h"

namespace kivo {

using zel::String;
using zel::StringView;
using zel::TSafeFolder;

namespace {

constexpr StringView kCommitted = u"committed";
constexpr StringView kFiles = u"files";

std::string ReadWhole(const TSafeFolder& folder, StringView name) {
  const zel::TFileHandle file = folder.OpenFile(name, GENERIC_READ, FILE_SHARE_READ);
  std::string text;
  if (!file) return text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  return text;
}

// Every file below folder, as paths relative to it.
std::vector<String> FilesBelow(const TSafeFolder& folder) {
  std::vector<String> files;
  zel::ForEachFile(folder, [&](const TSafeFolder&, const zel::TFolderEntry& entry, const String& relative) {
    if (!entry.IsLink()) files.push_back(relative);
  });
  return files;
}

// A part of a failed run that could not be put back: the user is told.
void NoteUndoFailure() {
  if (Installer) Installer->NoteUndoFailure();
}

// A path below a folder that names no drive and no parent: "a\\b.dll", not "..\\x" or "C:x".
bool IsPlainRelativePath(const String& path) {
  if (path.empty() || path[0] == u'\\' || path.find(u':') != String::npos) return false;
  for (const String& part : zel::Split(path, u'\\'))
    if (part.empty() || part == u"." || part == u"..") return false;
  return true;
}

}  // namespace

void TSetAside::Begin(zel::TFolderTree& dest, StringView archiveName) {
  FFolder = zel::CreatePrivateFolder(dest.Root().Path(), kPrefix);
  FName = zel::ExtractFileName(zel::ExcludeTrailingBackslash(FFolder->Path()));
  FArchiveName = String(archiveName);
  FDeletedOutside = false;
  const zel::TFileHandle journal = FFolder->CreateNewFile(kRunJournalName, GENERIC_WRITE);
  WriteAndFlush(journal.Get(), std::string(kRunJournalFormat) + "\r\narchive\t" + zel::ToUtf8(FArchiveName) + "\r\n",
                FFolder->Path() + String(kRunJournalName));
  FFiles.emplace(FFolder->CreateFolder(kFiles));
  RunLog().Log(u"Replaced files are kept until the run is complete in: " + FFolder->Path());
}

bool TSetAside::Keep(zel::TFolderTree& dest, StringView relative) {
  if (!FFolder) return false;
  try {
    const String path(relative);
    const TSafeFolder* from = dest.Folder(zel::ExtractFilePath(path));
    if (!from) return false;
    const TSafeFolder* to = FFiles->Folder(zel::ExtractFilePath(path), true);
    from->MoveTo(zel::ExtractFileName(path), *to, zel::ExtractFileName(path), false);
    return true;
  } catch (const zel::Exception&) {
    return false;  // in use, or a link: the caller deletes it as before
  }
}

void TSetAside::AppendJournal(StringView line) {
  const zel::TFileHandle journal = FFolder->OpenFile(kRunJournalName, FILE_APPEND_DATA, FILE_SHARE_READ);
  if (!journal)
    zel::RaiseOSError(ERROR_FILE_NOT_FOUND, u"Open the journal \"" + FFolder->Path() + String(kRunJournalName) + u"\"");
  WriteAndFlush(journal.Get(), zel::ToUtf8(line) + "\r\n", FFolder->Path() + String(kRunJournalName));
}

void TSetAside::NoteDeletedOutside() {
  if (!FFolder || FDeletedOutside) return;
  FDeletedOutside = true;
  AppendJournal(u"outside");
}

void TSetAside::NoteRenamed(StringView from, StringView to) {
  if (!FFolder) return;
  AppendJournal(u"renamed\t" + String(from) + u"\t" + String(to));
  FRenames.push_back({String(from), String(to)});
}

void TSetAside::NoteMade(const std::vector<String>& relative) {
  if (!FFolder || relative.empty()) return;
  // One write and one flush for the whole list: a product has thousands of files.
  String lines;
  for (const String& path : relative) lines += u"made\t" + path + u"\r\n";
  lines.resize(lines.size() - 2);
  AppendJournal(lines);
  RunLog().Log(u"Noted for an undo: the " + zel::IntToStr(static_cast<int64_t>(relative.size())) +
               u" files this run makes");
}

void TSetAside::NoteEntryBefore(const TSavedUninstallEntry& entry) {
  if (!FFolder) return;
  try {
    TInstallerApplicationRepository::KeepForUndo(entry, FName);
  } catch (const zel::Exception& e) {
    // The registration itself is written the same way and reports its own failure; a
    // failed or cancelled run still puts the entry back from memory.
    RunLog().Log(u"Uninstall entry not kept for the next run (" + e.Message() + u"): " + entry.Name);
  }
}

void TSetAside::RenameBack(const TRename& rename) noexcept {
  try {
    if (!zel::FileExists(rename.To) || zel::FileExists(rename.From)) return;
    const TSafeFolder folder = TSafeFolder::Open(zel::ExtractFilePath(rename.To), TSafeFolder::TTrust::NoLinks);
    folder.Rename(zel::ExtractFileName(rename.To), zel::ExtractFileName(rename.From), false);
    RunLog().Log(u"Renamed back: " + rename.To + u" -> " + rename.From);
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Not renamed back (" + e.Message() + u"): " + rename.To + u" -> " + rename.From);
    NoteUndoFailure();
  }
}

void TSetAside::Commit(zel::TFolderTree& dest) noexcept {
  if (!FFolder) return;
  // Marked first: a run killed while the folder is deleted is finished, not undone.
  try {
    const zel::TFileHandle marker = FFolder->CreateNewFile(kCommitted, GENERIC_WRITE);
    ::FlushFileBuffers(marker.Get());
  } catch (const zel::Exception& e) {
    RunLog().Log(u"The kept files' folder cannot be marked complete (" + e.Message() + u"): " + FFolder->Path());
  }
  const String path = FFolder->Path();
  FFiles.reset();
  FFolder.reset();
  TInstallerApplicationRepository::DropKeptForUndo(FName);
  // Clean-up: a file in use (a program still running) leaves for a private folder and the
  // next restart; anything else that cannot go now is finished by the next run.
  try {
    bool gone = zel::DeleteTree(dest.Root(), FName);
    if (!gone) {
      if (std::optional<TSafeFolder> aside = dest.Root().OpenFolder(FName)) {
        zel::ForEachFile(*aside, [](const TSafeFolder& folder, const zel::TFolderEntry& entry, const String&) {
          String moved;
          if (folder.DeleteEntry(entry.Name) == zel::TDeleteResult::InUse &&
              zel::MoveAsideUntilRestart(folder, entry.Name, &moved))
            RunLog().Log(u"In use, moved aside until restart: " + folder.Path() + entry.Name + u" -> " + moved);
        });
      }
      gone = zel::DeleteTree(dest.Root(), FName);
    }
    RunLog().Log((gone ? u"Replaced files deleted: " : u"Replaced files left for the next run to delete: ") + path);
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Replaced files left for the next run to delete (" + e.Message() + u"): " + path);
  }
}

void TSetAside::MoveBack(zel::TFolderTree& dest, zel::TFolderTree& kept, const String& relative) {
  const TSafeFolder* from = kept.Folder(zel::ExtractFilePath(relative));
  const TSafeFolder* to = dest.Folder(zel::ExtractFilePath(relative), true);
  if (!from || !to) zel::RaiseOSError(ERROR_PATH_NOT_FOUND, u"Move back \"" + relative + u"\"");
  from->MoveTo(zel::ExtractFileName(relative), *to, zel::ExtractFileName(relative), true);
}

void TSetAside::RollBackFolder(zel::TFolderTree& dest, const String& name, const TUndo& undo) noexcept {
  const String folder = dest.Root().Path() + name + u"\\";
  const String& archiveName = undo.ArchiveName;
  for (size_t i = undo.Renames.size(); i-- > 0;) RenameBack(undo.Renames[i]);
  try {
    // The killed run's new files first: a kept file then takes its old place again.
    zel::RemoveFilesAndEmptiedFolders(dest, undo.Made, [&](const String& relative, const String& error) {
      if (!error.empty()) NoteUndoFailure();
      RunLog().Log(error.empty() ? u"Removed (made by the run that did not complete): " + dest.Root().Path() + relative
                                 : u"Not removed (" + error + u"): " + dest.Root().Path() + relative);
    });
    const std::optional<TSafeFolder> aside = dest.Root().OpenFolder(name);
    if (!aside) return;
    if (std::optional<TSafeFolder> files = aside->OpenFolder(kFiles)) {
      zel::TFolderTree kept(std::move(*files));
      for (const String& relative : FilesBelow(kept.Root())) {
        try {
          MoveBack(dest, kept, relative);
          RunLog().Log(u"Restored: " + dest.Root().Path() + relative);
        } catch (const zel::Exception& e) {
          RunLog().Log(u"Not restored (" + e.Message() + u"): " + dest.Root().Path() + relative + u", kept in " +
                       folder);
          NoteUndoFailure();
        }
      }
    }
  } catch (const zel::Exception& e) {
    RunLog().Log(u"The kept files cannot be restored (" + e.Message() + u"): " + folder);
    NoteUndoFailure();
    return;
  }
  try {
    if (zel::DeleteTree(dest.Root(), name)) RunLog().Log(u"Folder removed: " + folder);
    // The old files are in place again: the archive made of them has no more to keep,
    // unless a file deleted outside the destination lives only there.
    if (archiveName.empty()) return;
    const zel::TSafeFolder* backups = dest.Folder(u"!Backup\\");
    if (!backups) return;
    if (undo.KeepArchive) {
      const String kept = KeptArchiveName(archiveName);
      backups->Rename(archiveName, kept, false);
      RunLog().Log(u"Backup kept, never rotated away (it holds files deleted outside the program folder): " +
                   backups->Path() + kept);
      return;
    }
    for (const String& file : {archiveName, archiveName + u".part"})
      if (backups->DeleteEntry(file) == zel::TDeleteResult::Deleted)
        RunLog().Log(u"Backup of the undone run deleted: " + backups->Path() + file);
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Clean-up after the roll-back incomplete (" + e.Message() + u"): " + folder);
  }
}

void TSetAside::RestoreKeptEntry(const String& run) noexcept {
  try {
    if (const std::optional<TSavedUninstallEntry> kept = TInstallerApplicationRepository::KeptForUndo(run)) {
      const bool restored = TInstallerApplicationRepository::Restore(*kept);
      RunLog().Log(restored ? (kept->Existed ? u"Uninstall entry as it was (the run did not complete): "
                                             : u"Uninstall entry removed (the run did not complete): ") +
                                  kept->Name
                            : u"Uninstall entry not put back: " + kept->Name);
      if (!restored) return;  // kept for the next run to try again
    }
    TInstallerApplicationRepository::DropKeptForUndo(run);
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Uninstall entry not put back (" + e.Message() + u")");
  }
}

void TSetAside::Rollback(zel::TFolderTree& dest) noexcept {
  if (!FFolder) return;
  RunLog().Log(u"Restoring the replaced files from: " + FFolder->Path());
  FFiles.reset();
  FFolder.reset();
  TUndo undo;
  undo.ArchiveName = FArchiveName;
  undo.KeepArchive = FDeletedOutside;
  undo.Renames = std::move(FRenames);
  RollBackFolder(dest, FName, undo);
  FRenames.clear();
  // The extraction's own undo has put the entry back already.
  TInstallerApplicationRepository::DropKeptForUndo(FName);
}

void TSetAside::Recover(zel::TFolderTree& dest, const std::vector<String>& own) noexcept {
  try {
    for (const zel::TFolderEntry& entry : dest.Root().List()) {
      if (!entry.IsFolder() || entry.IsLink() || !zel::StartsWithText(entry.Name, kPrefix)) continue;
      if (std::any_of(own.begin(), own.end(), [&](const String& name) { return zel::SameText(name, entry.Name); }))
        continue;
      const std::optional<TSafeFolder> aside = dest.Root().OpenFolder(entry.Name);
      if (!aside) continue;
      const std::string journal = ReadWhole(*aside, kRunJournalName);
      if (journal.rfind(kRunJournalFormat, 0) != 0) {
        RunLog().Log(u"Left alone (no journal of this setup): " + aside->Path());
        continue;
      }
      if (aside->OpenFile(kCommitted, GENERIC_READ, FILE_SHARE_READ)) {
        RunLog().Log(u"An earlier run was complete: its replaced files go: " + aside->Path());
        TInstallerApplicationRepository::DropKeptForUndo(entry.Name);
        zel::DeleteTree(dest.Root(), entry.Name);
        continue;
      }
      TUndo undo;
      for (const String& line : zel::Split(zel::FromUtf8(journal), u'\n')) {
        const String text = zel::Trim(line);
        const std::vector<String> fields = zel::Split(text, u'\t');
        if (fields.size() == 2 && fields[0] == u"archive") undo.ArchiveName = fields[1];
        if (fields.size() == 3 && fields[0] == u"renamed") undo.Renames.push_back({fields[1], fields[2]});
        // Only paths below the destination: the journal is ours, but nothing climbs out.
        if (fields.size() == 2 && fields[0] == u"made" && IsPlainRelativePath(fields[1]))
          undo.Made.push_back(fields[1]);
        if (text == u"outside") undo.KeepArchive = true;
      }
      RunLog().Log(u"An earlier run did not complete: undoing it from: " + aside->Path());
      RollBackFolder(dest, entry.Name, undo);
      RestoreKeptEntry(entry.Name);
    }
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Earlier runs' kept files not looked at (" + e.Message() + u"): " + dest.Root().Path());
  }
}

}  // namespace kivo
