#include "product/ActionPrepare.h"

#include <windows.h>

#include <algorithm>
#include <set>

#include "core/Elevation.h"
#include "core/Installer.h"
#include "core/InstallerErrors.h"
#include "core/InstallerScript.h"
#include "core/RunLog.h"
#include "core/SummaryBuilder.h"
#include "library/ZipWriter.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "platform/Platform.h"
#include "product/ProductInfoKIVO.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

const TObsoletePluginFolder kObsoletePluginFolders[9] = {
    {u"CDPlayer", 4002},        {u"RadioTuner", 4002}, {u"SkinConverter", 4002}, {u"WaveOutput", 4002},
    {u"LyricsClassic", 4002},   {u"CoverFetcher", 4699}, {u"TagsLegacy", 5030}, {u"AutoUpdate", 0},
    {u"Diagnostics", 0},
};

namespace {

constexpr StringView kBackupFolder = u"!Backup\\";
// Caches and the updater: deleted, never archived.
const char16_t* const kNotArchived[] = {u"AlbumArts.cache", u"AlbumArts.db", u"AlbumArtsCache.db",
                                        u"AlbumArtCache.db", u"UpdateInstaller.exe"};
// Folders whose contents an update keeps (archived all the same).
const char16_t* const kKeptOnUpdate[] = {u"Icons\\", u"System\\Data\\", u"System\\Encoders\\", u"Skins\\"};
constexpr int32_t kFirstVersionWithOwnPlugins = 3600;
constexpr size_t kBackupsKept = 3;

String Relative(const String& path, const String& folder) { return path.substr(folder.size()); }

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

String SystemFolder() {
  wchar_t path[MAX_PATH];
  UINT n = ::GetSystemWow64DirectoryW(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) n = ::GetSystemDirectoryW(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return zel::IncludeTrailingBackslash(zel::from_wcstr(path, n));
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

TInstallerActionPrepare::~TInstallerActionPrepare() = default;

bool TInstallerActionPrepare::ExistingInstallationWarning() {
  if (Installer->HasFlag(TInstallerFlag::Update)) return false;
  if (Installer->ProductInfo().GetInstalledVersion() >= 1) return true;
  String folder;
  return !Installer->HasFlag(TInstallerFlag::Portable) && TProductInfoKIVO::FindInstallation(folder);
}

void TInstallerActionPrepare::BuildSummary(TInstallerSummaryBuilder& builder) {
  builder.SetGroup(u"PageSetup", u"LB1");
  builder.AddLine(Installer->DestPath());
  builder.SetGroup(u"PageSetup", u"Title");
  if (Installer->HasFlag(TInstallerFlag::Update))
    builder.AddLine(u"PageSetup", u"CB1");
  else if (Installer->HasFlag(TInstallerFlag::Portable))
    builder.AddLine(u"PageSetup", u"CB3");
  else
    builder.AddLine(u"PageSetup", u"CB2");
  if (!Installer->HasFlag(TInstallerFlag::NoBackup)) builder.AddLine(u"PageSetup", u"CB4");
  if (ExistingInstallationWarning()) {
    builder.SetGroup(u"PageSetup", u"Title");
    builder.AddLine(u"PageSetup", u"W3");
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
    for (const auto& profile : *FProfiles) FTasks.push_back(std::make_unique<TInstallerUpdateTaskUpdateConfigs>(*profile));
}

void TInstallerActionPrepare::Execute() {
  FDone = 0;
  FArchived.clear();
  FSystemFolder = SystemFolder();
  TInstallerCleanupList cleanup;
  const String dest = Installer->DestPath();
  const bool update = Installer->HasFlag(TInstallerFlag::Update);
  const int32_t installed = ProductInfo().GetInstalledVersion();

  FProfiles->Clear();
  FTasks.clear();
  TInstallerProfileHelper::PopulateProfiles(*FProfiles);
  PopulateTasks();
  FUnitTotal = static_cast<int32_t>(FTasks.size());

  if (!Installer->HasFlag(TInstallerFlag::NoBackup)) Backup(cleanup);

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
}

void TInstallerActionPrepare::Backup(TInstallerCleanupList& cleanup) {
  const String dest = Installer->DestPath();
  const String backupFolder = dest + String(kBackupFolder);
  const auto skipBackups = [&backupFolder](const String& folder) { return zel::StartsWithText(folder, backupFolder); };
  std::vector<TBackupItem> items;
  const auto walk = [&](const String& folder, const String& prefix) {
    TSetupHelper::FindFiles(
        folder, [&](const String& path) { items.push_back({path, prefix + Relative(path, folder)}); }, skipBackups);
  };
  if (Installer->HasFlag(TInstallerFlag::Portable)) {
    walk(dest, u"");
  } else {
    for (const auto& profile : *FProfiles)
      walk(profile->OldProfilePath, u"Profiles\\" + profile->UserName + u"\\");
    walk(dest, u"Program\\");
  }
  FUnitTotal += static_cast<int32_t>(items.size());
  for (const TBackupItem& item : items) {
    cleanup.push_back(item.Path);
    FArchived.push_back(item.Path);
  }
  items.erase(std::remove_if(items.begin(), items.end(),
                             [](const TBackupItem& item) {
                               const String name = zel::ExtractFileName(item.Path);
                               for (const char16_t* cache : kNotArchived)
                                 if (zel::SameText(name, cache)) {
                                   RunLog().Log(u"Not archived (cache or updater): " + item.Path);
                                   return true;
                                 }
                               return false;
                             }),
              items.end());

  SetStatus(GetCommonText(u"A1"));
  if (items.empty()) return;
  uint64_t total = 0;
  for (const TBackupItem& item : items) total += FileSize(item.Path);
  if (total >= kBackupLimit) throw EInstallerBackupError(u"Too many files for backup");
  ForceFolder(backupFolder);
  WriteArchive(items);
}

void TInstallerActionPrepare::WriteArchive(const std::vector<TBackupItem>& items) {
  const String archive = Installer->DestPath() + String(kBackupFolder) + u"z Before install " +
                         ProductInfo().GetVersion() + u" [" + LocalTimeStamp() + u"].zip";
  // Written under a name that is no "*.zip" until it has been read back: a run stopped
  // half-way leaves no partial archive among the backups, where it would count as one of
  // the three kept and push a complete one out.
  const String partial = archive + u".part";
  {
    zel::TZELZipWriter writer(partial);
    for (const TBackupItem& item : items) {
      ++FDone;
      try {
        writer.AddFile(item.Path, item.Name);
      } catch (const zel::EZipError& e) {
        throw EInstallerBackupError(zel::Format(u"An error occurs while backuping the \"%s\" file (%d)\r\n%s\r\n%s",
                                                item.Path, static_cast<long long>(FileSize(item.Path)), e.Message(),
                                                zel::platform::SystemErrorMessage(e.OSErrorCode())));
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
  }
  if (!::MoveFileExW(as_wcstr(zel::platform::ExtendedLengthPath(partial)),
                     as_wcstr(zel::platform::ExtendedLengthPath(archive)),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    throw EInstallerBackupError(u"The backup \"" + partial + u"\" cannot be renamed to \"" + archive + u"\": " +
                                zel::platform::SystemErrorMessage(::GetLastError()));
  RunLog().Log(u"Backup: " + archive + u" (" + zel::IntToStr(static_cast<long long>(items.size())) + u" files)");
}

void TInstallerActionPrepare::AddOldBackups(TInstallerCleanupList& cleanup) {
  const String folder = Installer->DestPath() + String(kBackupFolder);
  std::vector<String> archives;
  WIN32_FIND_DATAW data;
  zel::TFindHandle find(::FindFirstFileExW(as_wcstr(zel::platform::ExtendedLengthPath(folder + u"*.zip")),
                                           FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  if (!find) return;
  do {
    // "*.zip" also matches longer extensions in the short names' rules; take only ".zip".
    const String name = zel::from_wcstr(data.cFileName);
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && zel::SameText(zel::ExtractFileExt(name), u".zip"))
      archives.push_back(name);
  } while (::FindNextFileW(find.Get(), &data));
  std::sort(archives.begin(), archives.end(), [](const String& a, const String& b) { return zel::CompareText(a, b) < 0; });
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

void TInstallerActionPrepare::DeleteListed(const TInstallerCleanupList& cleanup) {
  // What was archived and stays.
  std::set<String> listed;
  for (const String& entry : cleanup) listed.insert(zel::platform::CaseInsensitiveKey(entry));
  for (const String& path : FArchived)
    if (!listed.count(zel::platform::CaseInsensitiveKey(path)) && zel::FileExists(path)) RunLog().Log(u"Kept: " + path);

  std::vector<String> folders;
  for (const String& entry : cleanup) {
    // Neither the file nor its folder is there (the new version's files on a fresh
    // install): nothing to delete or remove, so no link to look for either.
    const String folder = FolderOf(entry);
    if (!zel::FileExists(entry) && !zel::DirectoryExists(folder)) continue;
    // A path that leaves its folder through a link (or names none of them) is not ours.
    const String root = RootOf(entry);
    if (root.empty() || !zel::platform::PathStaysInside(root, entry)) {
      RunLog().Log(u"Not deleted (outside " + (root.empty() ? String(u"the folders of this setup") : root) + u"): " +
                   entry);
      continue;
    }
    folders.push_back(folder);
    if (!zel::FileExists(entry)) continue;
    SafeDeleteFile(entry);
    RunLog().Log((zel::FileExists(entry) ? u"Not deleted: " : u"Deleted: ") + entry);
  }
  RemoveDuplicates(folders);
  std::sort(folders.begin(), folders.end());
  for (size_t i = folders.size(); i-- > 0;)
    if (TSetupHelper::DeleteFolder(folders[i], true)) RunLog().Log(u"Folder removed: " + folders[i]);
}

}  // namespace kivo
