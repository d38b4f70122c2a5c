#include "product/ActionUninstallFiles.h"

#include <windows.h>

#include <algorithm>
#include <unordered_set>

#include "core/ApplicationRepository.h"
#include "core/Destination.h"
#include "core/FileOperations.h"
#include "core/Installer.h"
#include "core/RestartRequired.h"
#include "core/RunLog.h"
#include "core/UninstallRegistration.h"
#include "library/IniFile.h"
#include "library/Streams.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/SafeTree.h"
#include "library/win/UserAccounts.h"
#include "package/PathVariables.h"
#include "platform/Platform.h"
#include "product/ProfileHelper.h"
#include "product/SetupHelper.h"
#include "product/UpdateTasks.h"

namespace kivo {

using zel::String;
using zel::StringView;

namespace {

bool IsDotsAndBlanks(StringView element) {
  return !element.empty() && element.find_first_not_of(u". ") == StringView::npos;
}

bool SameBytes(StringView a, StringView b) {
  try {
    zel::TFileStream first(a, zel::FileMode::OpenRead, zel::platform::ShareRead | zel::platform::ShareWrite);
    zel::TFileStream second(b, zel::FileMode::OpenRead, zel::platform::ShareRead | zel::platform::ShareWrite);
    if (first.Size() != second.Size()) return false;
    std::vector<uint8_t> x(1 << 16), y(1 << 16);
    for (;;) {
      const size_t n = first.Read(x.data(), x.size());
      if (n == 0) return true;
      if (second.Read(y.data(), n) != n || !std::equal(x.begin(), x.begin() + n, y.begin())) return false;
    }
  } catch (const zel::Exception&) {
    return false;
  }
}

// Subfolders of folder, each after its own subfolders, entered through their handles. A
// folder that is a link (a junction, a symbolic link, or under Wine a Unix link) is
// neither entered nor listed: removing it "if empty" would reach into its target.
void AddSubfolders(const zel::TSafeFolder& folder, std::vector<TInstallerActionUninstallFiles::TFolderEntry>& list) {
  std::vector<String> names;
  for (const zel::TFolderEntry& entry : folder.List()) {
    if (!entry.IsFolder()) continue;
    if (entry.IsLink()) RunLog().Log(u"Not entered (a link): " + folder.Path() + entry.Name + u"\\");
    else names.push_back(entry.Name);
  }
  std::sort(names.begin(), names.end(), [](const String& a, const String& b) { return zel::CompareText(a, b) < 0; });
  for (const String& name : names) {
    std::optional<zel::TSafeFolder> child;
    try {
      child = folder.OpenFolder(name);
    } catch (const zel::Exception& e) {
      RunLog().Log(u"Not entered (" + e.Message() + u"): " + folder.Path() + name + u"\\");
      continue;
    }
    if (!child) continue;
    AddSubfolders(*child, list);
    list.push_back({child->Path(), false});
  }
}

// The files an installation writes besides those "Uninstall.ini" lists. When all user data
// goes, "KIVO.ini" goes whole, but only in the last step: that step reads it (per-user mode).
const char16_t* const kMadeBySetup[] = {u"KIVO.ini", u"Uninstall.exe", u"Uninstall.dat"};
constexpr StringView kConfigName = u"KIVO.ini";
// What the later steps of an uninstall run, load or read (the registration program, the
// shell menu libraries, the configuration) and the uninstaller pair the uninstall entry starts.
const char16_t* const kKeptForLastStep[] = {u"Elevator.exe", u"System\\kivo_menu32.dll", u"System\\kivo_menu64.dll",
                                            u"KIVO.ini",     u"Uninstall.exe",           u"Uninstall.dat"};

}  // namespace

bool TInstallerActionUninstallFiles::ResolveListedFile(StringView dest, StringView entry, String& path,
                                                       String& reason) {
  path.clear();
  String text(entry);
  std::replace(text.begin(), text.end(), u'/', u'\\');
  if (zel::Trim(text).empty()) {
    reason = u"empty";
    return false;
  }
  if (text[0] == u'\\') {
    reason = u"an absolute or UNC path";
    return false;
  }
  // A drive ("C:"), or a stream of a file ("name:stream"): nothing the setup wrote.
  if (text.find(u':') != String::npos) {
    reason = u"a drive or stream prefix";
    return false;
  }
  std::vector<String> elements;
  for (const String& element : zel::Split(text, u'\\')) {
    if (element.empty() || element == u".") continue;
    if (element == u"..") {
      if (elements.empty()) {
        reason = u"leaves the program folder";
        return false;
      }
      elements.pop_back();
      continue;
    }
    // Windows drops trailing dots and blanks: "..." or ". ." would name something else
    // than written.
    if (IsDotsAndBlanks(element)) {
      reason = u"a name of dots";
      return false;
    }
    elements.push_back(element);
  }
  if (elements.empty()) {
    reason = u"names the program folder itself";
    return false;
  }
  const String candidate = CleanPath(String(dest) + zel::Join(elements, u"\\"));
  if (!zel::StartsWithText(candidate, dest) || candidate.size() <= dest.size()) {
    reason = u"leaves the program folder";
    return false;
  }
  if (!zel::platform::PathStaysInside(dest, candidate)) {
    reason = u"leads out of the program folder through a link";
    return false;
  }
  path = candidate;
  return true;
}

bool TInstallerActionUninstallFiles::HoldsUninstaller(StringView dest, StringView ownExe, String& reason) {
  if (IsRefusedDestination(dest, reason)) return false;
  const String folder(dest);
  const String exe = folder + zel::ExtractFileName(ownExe);
  const String dat = zel::ChangeFileExt(exe, u".dat");
  if (!SameBytes(exe, ownExe) || !SameBytes(dat, zel::ChangeFileExt(ownExe, u".dat"))) {
    reason = u"it does not hold this uninstaller";
    return false;
  }
  return true;
}

bool TInstallerActionUninstallFiles::IsStrictlyInside(StringView folder, StringView path) {
  const String base = zel::IncludeTrailingBackslash(folder);
  const String target(path);
  if (base.size() < 2 || !zel::StartsWithText(target, base)) return false;
  if (zel::ExcludeTrailingBackslash(target).size() <= base.size()) return false;
  for (const String& element : zel::Split(StringView(target).substr(base.size()), u'\\'))
    if (IsDotsAndBlanks(element)) return false;
  return zel::platform::PathStaysInside(base, target);
}

std::vector<TInstallerActionUninstallFiles::TFolderEntry> TInstallerActionUninstallFiles::BuildFolderList() {
  const String dest = Installer->DestPath();
  std::vector<TFolderEntry> list;
  FRemoveProgramFolder = false;
  try {
    AddSubfolders(zel::TSafeFolder::Open(dest), list);
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Folders not listed (" + e.Message() + u"): " + dest);
  }
  const bool removeBackups = Options().ReadBool(u"Common", u"RemoveBackups", Installer->HasFlag(TInstallerFlag::Auto));
  const bool removeContent = Options().ReadBool(u"Common", u"RemoveContent", false);
  if (removeBackups) list.push_back({dest + u"!Backup\\", true});
  if (!removeContent) return list;

  String reason;
  if (removeBackups &&
      HoldsUninstaller(dest, UninstallerFile.empty() ? zel::ModuleFileName() : UninstallerFile, reason)) {
    // Only what the installation made: the product's own folders with their contents, the
    // portable profile, then the program folder when nothing else is left in it (a folder
    // that held the user's files before the install keeps them).
    FRemoveProgramFolder = true;
    std::vector<String> own;
    for (const String& file : CreateFileList(false)) {
      const String relative = file.substr(dest.size());
      const size_t slash = relative.find(u'\\');
      if (slash != String::npos) own.push_back(dest + relative.substr(0, slash + 1));
    }
    own.push_back(dest + u"Profile\\");
    std::sort(own.begin(), own.end(), [](const String& a, const String& b) { return zel::CompareText(a, b) < 0; });
    own.erase(std::unique(own.begin(), own.end(), [](const String& a, const String& b) { return zel::SameText(a, b); }),
              own.end());
    for (const String& folder : own)
      if (!zel::SameText(folder, dest + u"!Backup\\")) list.push_back({folder, true});
    list.push_back({dest, false});
  } else {
    if (removeBackups) RunLog().Log(u"The program folder is kept (" + reason + u"): " + dest);
    list.push_back({dest + u"Profile\\", true});
  }
  zel::TZELIniFile config(dest + u"KIVO.ini");
  if (config.ReadBool(u"System", u"UserMode", false)) {
    zel::TZELUserAccountInfoList accounts;
    zel::TZELUserAccounts::Populate(accounts);
    for (size_t i = 0; i < accounts.Count(); ++i) {
      const zel::TZELUserAccountInfo& account = accounts.Items(i);
      const String profile = TInstallerProfileHelper::GetNewProfilePath(&account);
      if (IsStrictlyInside(account.AppDataPath, profile)) list.push_back({profile, true});
      else RunLog().Log(u"Profile kept (not inside " + account.AppDataPath + u"): " + profile);
    }
  }
  return list;
}

std::vector<String> TInstallerActionUninstallFiles::CreateFileList(bool logSkipped, bool onlyKept) {
  const String dest = Installer->DestPath();
  std::unique_ptr<zel::TMemoryStream> stream = Resources().GetFile(u"Uninstall.ini");
  zel::TZELIniFile ini;
  ini.LoadFromStream(*stream);
  const int32_t count = ini.ReadInteger(u"Uninstall", u"Count", 0);
  std::vector<String> files;
  std::unordered_set<String> known;  // case-insensitive keys: linear in the list's length
  for (int32_t i = 0; i < count; ++i) {
    const String entry = ini.ReadString(u"Uninstall", zel::IntToStr(i));
    // Resolving a name asks the file system: the last step resolves only the few it removes.
    if (onlyKept && !HasKeptName(entry)) continue;
    String path, reason;
    if (!ResolveListedFile(dest, entry, path, reason)) {
      if (logSkipped) RunLog().Log(u"Listed file skipped (" + reason + u"): " + entry);
      continue;
    }
    if (known.insert(zel::platform::CaseInsensitiveKey(path)).second) files.push_back(path);
  }
  return files;
}

bool TInstallerActionUninstallFiles::HasKeptName(StringView entry) {
  const size_t at = entry.find_last_of(u"\\/");
  const StringView name = at == StringView::npos ? entry : entry.substr(at + 1);
  for (const char16_t* kept : kKeptForLastStep)
    if (zel::SameText(name, zel::ExtractFileName(String(kept)))) return true;
  return false;
}

bool TInstallerActionUninstallFiles::KeptForLastStep(StringView relative) {
  for (const char16_t* name : kKeptForLastStep)
    if (zel::SameText(relative, name)) return true;
  return false;
}

void TInstallerActionUninstallFiles::RemoveSetupConfiguration(const zel::TSafeFolder& folder) {
  const String path = folder.Path() + String(kConfigName);
  // Clean-up: a configuration that cannot be read or written back stays as it is.
  try {
    zel::TFileHandle file = folder.OpenFile(kConfigName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    if (!file) return;
    std::vector<uint8_t> bytes;
    uint8_t buffer[64 * 1024];
    for (DWORD read = 0; ::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0;)
      bytes.insert(bytes.end(), buffer, buffer + read);
    zel::TMemoryStream text(std::move(bytes));
    zel::TZELIniFile ini;
    ini.LoadFromStream(text);
    if (!ini.SectionExists(u"System")) return;
    ini.EraseSection(u"System");
    std::vector<String> sections;
    ini.ReadSections(sections);
    const bool onlyOurs = std::all_of(sections.begin(), sections.end(),
                                      [](const String& name) { return zel::SameText(name, u"Integration"); });
    if (onlyOurs) {
      file.Reset();  // ours does not share deleting
      if (folder.DeleteEntry(kConfigName) == zel::TDeleteResult::Deleted) {
        RunLog().Log(u"Deleted: " + path);
        return;
      }
      file = folder.OpenFile(kConfigName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
      if (!file) return;
    }
    zel::TMemoryStream saved;
    ini.SaveToStream(saved, ini.Encoding());  // as the product wrote it
    LARGE_INTEGER start{};
    DWORD written = 0;
    if (!::SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN) ||
        !::WriteFile(file.Get(), saved.Memory(), static_cast<DWORD>(saved.Size()), &written, nullptr) ||
        static_cast<int64_t>(written) != saved.Size() || !::SetEndOfFile(file.Get())) {
      RunLog().Log(u"Not written back (" + zel::platform::SystemErrorMessage(::GetLastError()) + u"): " + path);
      return;
    }
    RunLog().Log(u"The setup's settings removed from " + path);
  } catch (const zel::ELinkedPathError&) {
    RunLog().Log(u"Left alone (a link): " + path);
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Left alone (" + e.Message() + u"): " + path);
  }
}

std::vector<String> TInstallerActionUninstallFiles::FilesToRemove(bool logSkipped, bool onlyKept) {
  std::vector<String> files = CreateFileList(logSkipped, onlyKept);
  const String dest = Installer->DestPath();
  if (FRemoveProgramFolder)
    for (const char16_t* name : kMadeBySetup) files.push_back(dest + name);
  return files;
}

void TInstallerActionUninstallFiles::RemoveFiles(const std::vector<String>& files, size_t& done, size_t total,
                                                 bool restartIfInUse) {
  const String dest = Installer->DestPath();
  std::optional<zel::TFolderTree> tree;
  try {
    if (std::optional<zel::TSafeFolder> root = zel::TSafeFolder::OpenIfExists(dest)) tree.emplace(std::move(*root));
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Nothing deleted in the program folder (" + e.Message() + u"): " + dest);
  }
  for (const String& file : files) {
    String movedTo;
    TSetupHelper::TRemoval removal =
        tree ? TSetupHelper::RemoveFile(*tree, file.substr(dest.size()), &movedTo) : TSetupHelper::TRemoval::NotDeleted;
    if (removal == TSetupHelper::TRemoval::NotDeleted && tree && zel::FileExists(file) &&
        zel::platform::PathStaysInside(dest, file) && DeleteAtReboot(file)) {
      // It could not even be moved aside (no private folder on its volume): it goes at the
      // next restart from where it is.
      RunLog().Log(u"In use, deleted at the next restart: " + file);
      if (restartIfInUse) SetRestartRequired();
    } else if (removal != TSetupHelper::TRemoval::Deleted && removal != TSetupHelper::TRemoval::Missing) {
      RunLog().Log(TSetupHelper::RemovalText(removal, file, movedTo));
      if (removal == TSetupHelper::TRemoval::MovedAside && restartIfInUse) SetRestartRequired();
    }
    SetProgress(static_cast<int>(++done * 100 / total));
  }
}

void TInstallerActionUninstallFiles::RemoveFolders(const std::vector<TFolderEntry>& folders, size_t& done,
                                                   size_t total) {
  const String dest = Installer->DestPath();
  std::optional<zel::TFolderTree> tree;
  try {
    if (std::optional<zel::TSafeFolder> root = zel::TSafeFolder::OpenIfExists(dest)) tree.emplace(std::move(*root));
  } catch (const zel::Exception&) {
    // Clean-up: the folders below stay.
  }
  for (const TFolderEntry& folder : folders) {
    // Clean-up: a folder that cannot go stays, and nothing is reported to the user.
    const bool inside = tree && zel::StartsWithText(folder.Path, dest) && folder.Path.size() > dest.size();
    if (inside && !folder.WithContents) {
      TSetupHelper::RemoveEmptyFolder(*tree, folder.Path.substr(dest.size()));
    } else {
      if (zel::SameText(folder.Path, dest)) tree.reset();  // the program folder itself: let go of it first
      TSetupHelper::DeleteFolder(folder.Path, !folder.WithContents);
    }
    if (folder.WithContents && zel::DirectoryExists(folder.Path)) RunLog().Log(u"Not deleted whole: " + folder.Path);
    SetProgress(static_cast<int>(++done * 100 / total));
  }
}

void TInstallerActionUninstallFiles::Execute() {
  // Decided before anything is deleted: whether all user data goes depends on the
  // uninstaller pair, which stays until the last step.
  BuildFolderList();
  const String dest = Installer->DestPath();
  std::vector<String> files;
  for (String& file : FilesToRemove())
    if (!KeptForLastStep(file.substr(dest.size()))) files.push_back(std::move(file));
  SetStatus(GetCommonText(u"A9"));
  size_t done = 0;
  RemoveFiles(files, done, std::max<size_t>(files.size(), 1));
}

void TInstallerActionUninstallEntry::Execute() {
  const std::vector<TFolderEntry> folders = BuildFolderList();
  const String dest = Installer->DestPath();
  std::vector<String> kept, pair;
  // The files step has logged the entries it skipped.
  for (String& file : FilesToRemove(false, true)) {
    const String relative = file.substr(dest.size());
    if (zel::SameText(relative, kUninstallerName) ||
        zel::SameText(relative, zel::ChangeFileExt(kUninstallerName, u".dat")))
      pair.push_back(std::move(file));
    else if (KeptForLastStep(relative)) kept.push_back(std::move(file));
  }
  SetStatus(GetCommonText(u"A9"));
  const size_t total = kept.size() + pair.size() + folders.size() + 1;
  size_t done = 0;
  RemoveFiles(kept, done, total);
  // Nothing the setup wrote may make the next run an update of what is gone.
  try {
    if (std::optional<zel::TSafeFolder> root = zel::TSafeFolder::OpenIfExists(dest)) RemoveSetupConfiguration(*root);
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Configuration left alone (" + e.Message() + u"): " + dest);
  }
  // The key the registration wrote: the product name as it is, blanks included.
  const String name = ProductInfo().GetName();
  // A portable copy's uninstall leaves the standard installation's entry alone.
  if (OwnsRegistration(u"the uninstall entry") && TInstallerApplicationRepository::Unregister(name))
    RunLog().Log(u"Uninstall entry removed: " + name);
  SetProgress(static_cast<int>(++done * 100 / total));
  // The installed uninstaller is in use while it waits for this copy: it goes at the next
  // restart as any file in use, but a restart is not asked for an uninstaller's leftover.
  RemoveFiles(pair, done, total, false);
  RemoveFolders(folders, done, total);
}

}  // namespace kivo
