#include "product/ActionPrepare.h"

#include <windows.h>

#include <algorithm>
#include <set>

#include "core/Installer.h"
#include "package/InstallerErrors.h"
#include "package/InstallerScript.h"
#include "core/RunLog.h"
#include "core/SummaryBuilder.h"
#include "library/ZipWriter.h"
#include "library/win/FileSystem.h"
#include "library/win/KnownFolders.h"
#include "library/win/Handles.h"
#include "library/win/SafeTree.h"
#include "core/ExtractHelper.h"
#include "platform/Platform.h"
#include "product/BackupFolder.h"
#include "product/ProductInfoKIVO.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

const TObsoletePluginFolder kObsoletePluginFolders[9] = {
    {u"CDPlayer", 4002},   {u"RadioTuner", 4002},    {u"SkinConverter", 4002},
    {u"WaveOutput", 4002}, {u"LyricsClassic", 4002}, {u"CoverFetcher", 4699},
    {u"TagsLegacy", 5030}, {u"AutoUpdate", 0},       {u"Diagnostics", 0},
};

namespace {

constexpr StringView kBackupFolder = u"!Backup\\";
// Caches and the updater: deleted, never archived.
const char16_t* const kNotArchived[] = {u"AlbumArts.cache", u"AlbumArts.db", u"AlbumArtsCache.db", u"AlbumArtCache.db",
                                        u"UpdateInstaller.exe"};
// Folders whose contents an update keeps (archived all the same).
const char16_t* const kKeptOnUpdate[] = {u"Icons\\", u"System\\Data\\", u"System\\Encoders\\", u"Skins\\"};
constexpr int32_t kFirstVersionWithOwnPlugins = 3600;
constexpr size_t kBackupsKept = 3;

String Relative(const String& path, const String& folder) { return path.substr(folder.size()); }

bool IsCache(const String& path) {
  const String name = zel::ExtractFileName(path);
  for (const char16_t* cache : kNotArchived)
    if (zel::SameText(name, cache)) return true;
  return false;
}

uint64_t FileSize(const String& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(as_wcstr(zel::platform::ExtendedLengthPath(path)), GetFileExInfoStandard, &data))
    return 0;
  return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

String LocalTimeStamp() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  wchar_t text[32];
  swprintf(text, 32, L"%04u.%02u.%02u %02u-%02u-%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
           now.wSecond);
  return zel::from_wcstr(text);
}

// Where 32-bit programs find the system's DLLs.
String SystemFolderOf32BitPrograms() {
  const String wow64 = zel::Wow64SystemFolder();
  return wow64.empty() ? zel::SystemFolder() : wow64;
}

// Keeps the first of entries that name the same file in other letters.
void RemoveDuplicates(TInstallerCleanupList& list) {
  std::set<String> seen;
  TInstallerCleanupList unique;
  unique.reserve(list.size());
  for (String& entry : list)
    if (seen.insert(zel::platform::CaseInsensitiveKey(entry)).second) unique.push_back(std::move(entry));
  list = std::move(unique);
}

// The text up to and including the last "\", "/" or ":".
String FolderOf(const String& path) {
  const size_t at = path.find_last_of(u"\\/:");
  return at == String::npos ? String() : path.substr(0, at + 1);
}

}  // namespace

TInstallerActionPrepare::TInstallerActionPrepare() : FProfiles(std::make_unique<TInstallerProfileInfoList>()) {}

TInstallerActionPrepare::~TInstallerActionPrepare() {
  if (Installer && Installer->RunJournal() == &FSetAside) Installer->SetRunJournal(nullptr);
}

bool TInstallerActionPrepare::IsDowngrade() {
  if (Installer->HasFlag(TInstallerFlag::Update)) return false;
  return Installer->ProductInfo().GetInstalledVersion() > Installer->ProductInfo().ProductVersionId();
}

String TInstallerActionPrepare::ExistingInstallationWarning() {
  if (Installer->HasFlag(TInstallerFlag::Update)) return {};
  TInstallerProductInfo& product = Installer->ProductInfo();
  TInstallerResources& resources = Installer->Resources();
  const String installed = product.GetInstalledVersionText();
  // Said of this folder's own installation with its version, and only advice that can be
  // followed: a newer or too old version cannot be updated, it is replaced.
  if (IsDowngrade()) return zel::Format(resources.GetText(u"PageSetup", u"W4"), installed, product.GetVersion());
  if (product.GetInstalledVersion() >= 1)
    return product.CanUpdate() ? zel::Format(resources.GetText(u"PageSetup", u"W5"), installed)
                               : zel::Format(resources.GetText(u"PageSetup", u"W6"), installed, product.GetVersion());
  String folder;
  if (!Installer->HasFlag(TInstallerFlag::Portable) && TProductInfoKIVO::FindInstallation(folder))
    return resources.GetText(u"PageSetup", u"W3");
  return {};
}

void TInstallerActionPrepare::BuildSummary(TInstallerSummaryBuilder& builder) {
  builder.SetGroup(u"PageSetup", u"LB1");
  builder.AddLine(Installer->DestPath());
  builder.SetGroup(u"PageSetup", u"Title");
  if (Installer->HasFlag(TInstallerFlag::Update)) builder.AddLine(u"PageSetup", u"CB1");
  else if (Installer->HasFlag(TInstallerFlag::Portable)) builder.AddLine(u"PageSetup", u"CB3");
  else builder.AddLine(u"PageSetup", u"CB2");
  if (!Installer->HasFlag(TInstallerFlag::NoBackup) && HasAnythingToBackUp()) builder.AddLine(u"PageSetup", u"CB4");
  // Under the same heading: a second "Setup Options" would read as a second set of choices.
  const String warning = ExistingInstallationWarning();
  if (!warning.empty()) builder.AddLine(warning);
}

bool TInstallerActionPrepare::HasAnythingToBackUp() {
  if (Installer->ProductInfo().GetInstalledVersion() >= 1) return true;
  try {
    const std::optional<zel::TSafeFolder> folder = zel::TSafeFolder::OpenIfExists(Installer->DestPath());
    return folder && !folder->List().empty();
  } catch (const zel::Exception&) {
    return true;  // a folder that cannot be looked into may hold something: the line stays
  }
}

void TInstallerActionPrepare::ReportProgress() {
  if (FUnitTotal > 0) SetProgress(static_cast<int>(int64_t(FDone) * 100 / FUnitTotal));
}

void TInstallerActionPrepare::PopulateTasks() {
  const bool update = Installer->HasFlag(TInstallerFlag::Update);
  if (!Installer->HasFlag(TInstallerFlag::Portable) && (!update || ProductInfo().GetInstalledVersion() < 4000)) {
    FTasks.push_back(std::make_unique<TInstallerUpdateTaskRemoveShellMenu>());
    FTasks.push_back(std::make_unique<TInstallerUpdateTaskRemoveUninstallInfo>());
    FTasks.push_back(std::make_unique<TInstallerUpdateTaskRemoveShortcuts>());
  }
  if (update)
    for (const auto& profile : *FProfiles)
      FTasks.push_back(std::make_unique<TInstallerUpdateTaskUpdateConfigs>(*profile));
}

void TInstallerActionPrepare::Execute() {
  FDone = 0;
  FArchived.clear();
  FTrees.clear();
  FSystemFolder = SystemFolderOf32BitPrograms();
  TInstallerCleanupList cleanup;
  const String dest = Installer->DestPath();
  const bool update = Installer->HasFlag(TInstallerFlag::Update);
  const int32_t installed = ProductInfo().GetInstalledVersion();

  FArchiveName.clear();
  if (IsDowngrade())
    RunLog().Log(u"Installing version " + ProductInfo().GetVersion() + u" over the newer version " +
                 ProductInfo().GetInstalledVersionText());
  // What a killed run left is finished or undone before anything else happens here.
  if (zel::TFolderTree* tree = TreeOf(dest)) TSetAside::Recover(*tree, Installer->OwnRunFolders());

  FProfiles->Clear();
  FTasks.clear();
  TInstallerProfileHelper::PopulateProfiles(*FProfiles);
  PopulateTasks();
  FUnitTotal = static_cast<int32_t>(FTasks.size());

  if (!Installer->HasFlag(TInstallerFlag::NoBackup)) Backup(cleanup);
  // From here on the old files are set aside, not deleted, until the run is complete.
  if (zel::TFolderTree* tree = TreeOf(dest)) {
    FSetAside.Begin(*tree, FArchiveName);
    Installer->SetRunJournal(&FSetAside);
  }
  for (const auto& task : FTasks) task->SetUndo(&FSetAside);

  if (update) {
    std::vector<String> kept(std::begin(kKeptOnUpdate), std::end(kKeptOnUpdate));
    if (installed >= kFirstVersionWithOwnPlugins) kept.push_back(u"Plugins\\");
    for (const String& folder : kept) TSetupHelper::ExcludeFolder(cleanup, dest + folder);
  }
  AddOldBackups(cleanup);
  AddLeftovers(cleanup);
  // The new version's files go first, so that none of the old ones is mistaken for new.
  for (const auto& entry : Script().Components) cleanup.push_back(Resources().ExpandPath(entry->Name));
  RemoveDuplicates(cleanup);

  SetStatus(GetCommonText(u"A5"));
  for (const auto& task : FTasks) {
    ++FDone;
    RunLog().Log(u"Update task: " + zel::Ascii(task->ClassName()));
    task->Execute(&cleanup);
    ReportProgress();
  }

  SetStatus(GetCommonText(u"A3"));
  RemoveDuplicates(cleanup);
  DeleteListed(cleanup);
  FTrees.clear();
}

void TInstallerActionPrepare::Backup(TInstallerCleanupList& cleanup) {
  const String dest = Installer->DestPath();
  const String backupFolder = dest + String(kBackupFolder);
  std::vector<TBackupItem> items;
  const auto walk = [&](const String& root, const String& prefix) {
    zel::TFolderTree* tree = TreeOf(root);
    if (!tree) return;
    zel::ForEachFile(
        tree->Root(),
        [&](const zel::TSafeFolder&, const zel::TFolderEntry& entry, const String& relative) {
          // A link's target is not ours to archive, nor to delete.
          if (entry.IsLink()) RunLog().Log(u"Not archived (a link): " + root + relative);
          else items.push_back({root + relative, prefix + relative, root, relative});
        },
        [&](const String& relative) {
          return zel::StartsWithText(root + relative, backupFolder) ||
                 (zel::SameText(root, dest) && zel::StartsWithText(relative, TSetAside::kPrefix));
        });
  };
  if (Installer->HasFlag(TInstallerFlag::Portable)) {
    walk(dest, u"");
  } else {
    for (const auto& profile : *FProfiles) walk(profile->OldProfilePath, u"Profiles\\" + profile->UserName + u"\\");
    walk(dest, u"Program\\");
  }
  FUnitTotal += static_cast<int32_t>(items.size());
  for (const TBackupItem& item : items) {
    cleanup.push_back(item.Path);
    FArchived.push_back(item.Path);
  }
  items.erase(std::remove_if(items.begin(), items.end(),
                             [](const TBackupItem& item) {
                               if (!IsCache(item.Path)) return false;
                               RunLog().Log(u"Not archived (cache or updater): " + item.Path);
                               return true;
                             }),
              items.end());

  SetStatus(GetCommonText(u"A1"));
  if (items.empty()) return;
  uint64_t total = 0;
  for (const TBackupItem& item : items) total += FileSize(item.Path);
  if (total >= kBackupLimit) throw EInstallerBackupError(u"Too many files for backup");
  WriteArchive(items);
}

void TInstallerActionPrepare::WriteArchive(const std::vector<TBackupItem>& items) {
  const String dest = Installer->DestPath();
  const String name = u"z Before install " + ProductInfo().GetVersion() + u" [" + LocalTimeStamp() + u"].zip";
  FArchiveName = name;
  // Written under a name that is no "*.zip" until it has been read back: a run stopped
  // half-way leaves no partial archive among the backups, where it would count as one of
  // the three kept and push a complete one out.
  const String partialName = name + u".part";
  const String archive = dest + String(kBackupFolder) + name, partial = archive + u".part";
  // The folder and the file are made here and checked by handle: a "!Backup" or a
  // "….zip.part" that a user made a link in advance cannot send the archive elsewhere.
  zel::TFolderTree* tree = TreeOf(dest, true);
  const zel::TSafeFolder* folder = nullptr;
  try {
    if (tree) folder = tree->Folder(kBackupFolder, true);
  } catch (const zel::ELinkedPathError& e) {
    throw EInstallerBackupError(u"The backup folder \"" + dest + String(kBackupFolder) + u"\" is a link: " +
                                e.Message());
  } catch (const zel::Exception&) {
    folder = nullptr;
  }
  if (!folder) throw EInstallerInstallError(zel::Format(GetCommonText(u"E3"), dest + String(kBackupFolder)));
  if (folder->DeleteEntry(partialName) == zel::TDeleteResult::Refused)
    throw EInstallerBackupError(u"The backup \"" + partial + u"\" cannot be written: a link has its name");
  zel::TFileHandle file;
  try {
    file = folder->CreateNewFile(partialName, GENERIC_READ | GENERIC_WRITE);
  } catch (const zel::Exception& e) {
    throw EInstallerBackupError(u"The backup \"" + partial + u"\" cannot be created: " + e.Message());
  }
  // A backup that fails half-way goes at once: it is no backup, and it may be what fills
  // the drive. (Declared before the writer, so it runs after the writer closed the file.)
  bool renamed = false;
  struct TPartialGuard {
    const zel::TSafeFolder* Folder;
    const String& Name;
    const bool& Renamed;
    ~TPartialGuard() {
      if (Renamed) return;
      try {
        Folder->DeleteEntry(Name);
      } catch (...) {
        // clean-up: a partial archive the next run finds is deleted then
      }
    }
  } partialGuard{folder, partialName, renamed};
  zel::TZELZipWriter writer(reinterpret_cast<zel::platform::FileHandle>(file.Release()), partial);
  for (const TBackupItem& item : items) {
    ++FDone;
    try {
      const zel::TSafeFolder* source = TreeOf(item.Root)->Folder(zel::ExtractFilePath(item.Relative));
      const zel::TFileHandle input =
          source ? source->OpenFile(zel::ExtractFileName(item.Relative), GENERIC_READ, FILE_SHARE_READ)
                 : zel::TFileHandle();
      if (!input)
        throw zel::EZipError(u"Cannot open the file \"" + item.Path + u"\" for reading", ERROR_FILE_NOT_FOUND);
      writer.AddFile(reinterpret_cast<zel::platform::FileHandle>(input.Get()), item.Path, item.Name);
    } catch (const zel::ELinkedPathError&) {
      // Listed as a file, opened as a link (Wine lists a Unix link to a file as a file, and
      // a user may swap one in): its target is not ours to archive.
      RunLog().Log(u"Not archived (a link): " + item.Path);
      ReportProgress();
      continue;
    } catch (const zel::Exception& e) {
      const auto* zip = dynamic_cast<const zel::EZipError*>(&e);
      const auto* os = dynamic_cast<const zel::EOSError*>(&e);
      const unsigned code = zip ? zip->OSErrorCode() : os ? os->ErrorCode() : 0;
      // A full drive in the user's words, naming it, as every other write says it.
      const bool full = zip && (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL);
      const String cause =
          full ? WriteFailureText(partial, code) : e.Message() + u"\r\n" + zel::platform::SystemErrorMessage(code);
      throw EInstallerBackupError(zel::Format(u"An error occurs while backuping the \"%s\" file (%d)\r\n%s", item.Path,
                                              static_cast<long long>(FileSize(item.Path)), cause));
    }
    RunLog().Log(u"Archived: " + item.Path + u" as " + item.Name);
    ReportProgress();
  }
  try {
    writer.Close();
    writer.VerifyContents();
  } catch (const zel::Exception& e) {
    throw EInstallerBackupError(u"The backup \"" + partial + u"\" cannot be read back: " + e.Message());
  }
  try {
    folder->RenameInto(reinterpret_cast<HANDLE>(writer.Handle()), name, true);
    renamed = true;
  } catch (const zel::Exception& e) {
    throw EInstallerBackupError(u"The backup \"" + partial + u"\" cannot be renamed to \"" + archive + u"\": " +
                                e.Message());
  }
  RunLog().Log(u"Backup: " + archive + u" (" + zel::IntToStr(static_cast<long long>(items.size())) + u" files)");
}

void TInstallerActionPrepare::AddOldBackups(TInstallerCleanupList& cleanup) {
  const String folder = Installer->DestPath() + String(kBackupFolder);
  std::vector<String> archives;
  try {
    zel::TFolderTree* tree = TreeOf(Installer->DestPath());
    const zel::TSafeFolder* backups = tree ? tree->Folder(kBackupFolder) : nullptr;
    if (!backups) return;
    for (const zel::TFolderEntry& entry : backups->List())
      if (!entry.IsFolder() && !entry.IsLink() && zel::SameText(zel::ExtractFileExt(entry.Name), u".zip") &&
          !IsKeptArchive(entry.Name))
        archives.push_back(entry.Name);
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Old backups left alone (" + e.Message() + u"): " + folder);
    return;
  }
  std::sort(archives.begin(), archives.end(),
            [](const String& a, const String& b) { return zel::CompareText(a, b) < 0; });
  for (size_t i = 0; i + kBackupsKept < archives.size(); ++i) cleanup.push_back(folder + archives[i]);
}

void TInstallerActionPrepare::AddLeftovers(TInstallerCleanupList& cleanup) {
  if (!FSystemFolder.empty() && zel::FileExists(FSystemFolder + u"OptimFROG.dll"))
    cleanup.push_back(FSystemFolder + u"OptimFROG.dll");
  const int32_t installed = ProductInfo().GetInstalledVersion();
  for (const TObsoletePluginFolder& row : kObsoletePluginFolders) {
    if (row.RemovedBelow != 0 && installed >= row.RemovedBelow) continue;
    TSetupHelper::FindFiles(Installer->DestPath() + u"Plugins\\" + row.Folder,
                            [&cleanup](const String& path) { cleanup.push_back(path); });
  }
}

String TInstallerActionPrepare::RootOf(const String& entry) const {
  std::vector<String> roots = {Installer->DestPath()};
  for (const auto& profile : *FProfiles) {
    roots.push_back(profile->OldProfilePath);
    roots.push_back(profile->ProfilePath);
  }
  for (const String& root : roots)
    if (zel::StartsWithText(entry, root)) return root;
  if (!FSystemFolder.empty() && zel::SameText(entry, FSystemFolder + u"OptimFROG.dll")) return FSystemFolder;
  return {};
}

void TInstallerActionPrepare::Commit() noexcept {
  Installer->SetRunJournal(nullptr);
  if (!FSetAside.Active()) return;
  try {
    zel::TFolderTree dest(zel::TSafeFolder::Open(Installer->DestPath()));
    FSetAside.Commit(dest);
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Replaced files left for the next run to delete (" + e.Message() + u")");
  }
}

void TInstallerActionPrepare::Rollback() noexcept {
  FTrees.clear();
  Installer->SetRunJournal(nullptr);
  if (FSetAside.Active()) {
    try {
      zel::TFolderTree dest(zel::TSafeFolder::Open(Installer->DestPath()));
      FSetAside.Rollback(dest);
    } catch (const zel::Exception& e) {
      RunLog().Log(u"The replaced files cannot be restored now (" + e.Message() + u"); the next run restores them");
      Installer->NoteUndoFailure();
    }
  }
  // With the files back, what the tasks removed from Windows: registrations need them.
  for (size_t i = FTasks.size(); i-- > 0;) FTasks[i]->Undo();
}

zel::TFolderTree* TInstallerActionPrepare::TreeOf(const String& root, bool create) {
  const String key = zel::platform::CaseInsensitiveKey(root);
  const auto held = FTrees.find(key);
  if (held != FTrees.end() && (held->second || !create)) return held->second.get();
  std::unique_ptr<zel::TFolderTree> tree;
  // The destination may lie behind a link of the administrator's; the profiles are their
  // users', so no link on their paths is gone through.
  const bool ownedByUser = !zel::SameText(root, Installer->DestPath()) && !zel::SameText(root, FSystemFolder);
  try {
    const auto trust = ownedByUser ? zel::TSafeFolder::TTrust::NoLinks : zel::TSafeFolder::TTrust::PathAsGiven;
    if (create) tree = std::make_unique<zel::TFolderTree>(zel::TSafeFolder::Create(root, trust));
    else if (std::optional<zel::TSafeFolder> folder = zel::TSafeFolder::OpenIfExists(root, trust))
      tree = std::make_unique<zel::TFolderTree>(std::move(*folder));
  } catch (const zel::ELinkedPathError& e) {
    RunLog().Log(u"Left alone (" + e.Message() + u"): " + root);
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Cannot open (" + e.Message() + u"): " + root);
  }
  std::unique_ptr<zel::TFolderTree>& slot = FTrees[key];
  slot = std::move(tree);
  return slot.get();
}

void TInstallerActionPrepare::DeleteListed(const TInstallerCleanupList& cleanup) {
  // What was archived and stays.
  std::set<String> listed;
  for (const String& entry : cleanup) listed.insert(zel::platform::CaseInsensitiveKey(entry));
  for (const String& path : FArchived)
    if (!listed.count(zel::platform::CaseInsensitiveKey(path)) && zel::FileExists(path)) RunLog().Log(u"Kept: " + path);

  std::set<String> archived;
  for (const String& path : FArchived) archived.insert(zel::platform::CaseInsensitiveKey(path));
  std::vector<String> folders;
  for (const String& entry : cleanup) {
    // Neither the file nor its folder is there (the new version's files on a fresh
    // install): nothing to delete or remove.
    const String folder = FolderOf(entry);
    if (!zel::FileExists(entry) && !zel::DirectoryExists(folder)) continue;
    // Every file is opened below the folder it belongs to, through handles that never go
    // through a link: a path that leaves its folder that way is not ours.
    const String root = RootOf(entry);
    zel::TFolderTree* tree = root.empty() ? nullptr : TreeOf(root);
    if (!tree) {
      RunLog().Log(u"Not deleted (outside " + (root.empty() ? String(u"the folders of this setup") : root) + u"): " +
                   entry);
      continue;
    }
    folders.push_back(folder);
    const bool inDest = zel::SameText(root, Installer->DestPath());
    if (inDest && FSetAside.Keep(*tree, Relative(entry, root))) {
      RunLog().Log(u"Deleted: " + entry + u" (kept aside until the run is complete)");
      continue;
    }
    String movedTo;
    const TSetupHelper::TRemoval removal = TSetupHelper::RemoveFile(*tree, Relative(entry, root), &movedTo);
    if (removal != TSetupHelper::TRemoval::Missing) RunLog().Log(TSetupHelper::RemovalText(removal, entry, movedTo));
    // An archived file gone for good outside the program folder: the archive holds the
    // only copy now (caches are not archived, and count for nothing).
    if (!inDest && (removal == TSetupHelper::TRemoval::Deleted || removal == TSetupHelper::TRemoval::MovedAside) &&
        archived.count(zel::platform::CaseInsensitiveKey(entry)) && !IsCache(entry))
      FSetAside.NoteDeletedOutside();
  }
  RemoveDuplicates(folders);
  std::sort(folders.begin(), folders.end());
  for (size_t i = folders.size(); i-- > 0;) {
    const String root = RootOf(folders[i]);
    zel::TFolderTree* tree = root.empty() ? nullptr : TreeOf(root);
    if (!tree) continue;
    // A root itself is removed through its parent, once the tree lets go of it.
    const bool removed =
        zel::SameText(folders[i], root)
            ? (FTrees.erase(zel::platform::CaseInsensitiveKey(root)), TSetupHelper::DeleteFolder(root, true))
            : TSetupHelper::RemoveEmptyFolder(*tree, Relative(folders[i], root));
    if (removed) RunLog().Log(u"Folder removed: " + folders[i]);
  }
}

}  // namespace kivo
