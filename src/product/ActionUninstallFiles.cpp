#include "product/ActionUninstallFiles.h"

#include <windows.h>

#include <algorithm>

#include "core/Destination.h"
#include "core/Elevation.h"
#include "core/Installer.h"
#include "core/RunLog.h"
#include "library/IniFile.h"
#include "library/Streams.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/UserAccounts.h"
#include "package/PathVariables.h"
#include "platform/Platform.h"
#include "product/ProfileHelper.h"
#include "product/SetupHelper.h"

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

// Subfolders of folder, each after its own subfolders. A folder that is a link (a
// junction, a symbolic link, or under Wine a Unix link) is neither entered nor listed:
// removing it "if empty" would reach into its target.
void AddSubfolders(const String& root, const String& folder,
                   std::vector<TInstallerActionUninstallFiles::TFolderEntry>& list) {
  WIN32_FIND_DATAW data;
  const String pattern = zel::platform::ExtendedLengthPath(folder + u"*");
  HANDLE find = ::FindFirstFileExW(zel::as_wcstr(pattern), FindExInfoBasic, &data, FindExSearchLimitToDirectories,
                                   nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<String> names;
  do {
    const String name = zel::from_wcstr(data.cFileName);
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == u"." || name == u"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      RunLog().Log(u"Not entered (a link): " + folder + name + u"\\");
      continue;
    }
    names.push_back(name);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  std::sort(names.begin(), names.end(), [](const String& a, const String& b) { return zel::CompareText(a, b) < 0; });
  for (const String& name : names) {
    const String path = folder + name + u"\\";
    if (!zel::platform::PathStaysInside(root, path)) {
      RunLog().Log(u"Not entered (leads outside " + root + u"): " + path);
      continue;
    }
    AddSubfolders(root, path, list);
    list.push_back({path, false});
  }
}

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
  AddSubfolders(dest, dest, list);
  const bool removeBackups = Options().ReadBool(u"Common", u"RemoveBackups", Installer->HasFlag(TInstallerFlag::Auto));
  const bool removeContent = Options().ReadBool(u"Common", u"RemoveContent", false);
  if (removeBackups) list.push_back({dest + u"!Backup\\", true});
  if (!removeContent) return list;

  String reason;
  if (removeBackups && HoldsUninstaller(dest, UninstallerFile.empty() ? OwnFileName() : UninstallerFile, reason)) {
    list.push_back({dest, true});
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
      if (IsStrictlyInside(account.AppDataPath, profile))
        list.push_back({profile, true});
      else
        RunLog().Log(u"Profile kept (not inside " + account.AppDataPath + u"): " + profile);
    }
  }
  return list;
}

std::vector<String> TInstallerActionUninstallFiles::CreateFileList() {
  const String dest = Installer->DestPath();
  std::unique_ptr<zel::TMemoryStream> stream = Resources().GetFile(u"Uninstall.ini");
  zel::TZELIniFile ini;
  ini.LoadFromStream(*stream);
  const int32_t count = ini.ReadInteger(u"Uninstall", u"Count", 0);
  std::vector<String> files;
  for (int32_t i = 0; i < count; ++i) {
    const String entry = ini.ReadString(u"Uninstall", zel::IntToStr(i));
    String path, reason;
    if (!ResolveListedFile(dest, entry, path, reason)) {
      RunLog().Log(u"Listed file skipped (" + reason + u"): " + entry);
      continue;
    }
    const bool known = std::any_of(files.begin(), files.end(), [&](const String& f) { return zel::SameText(f, path); });
    if (!known) files.push_back(path);
  }
  return files;
}

void TInstallerActionUninstallFiles::Execute() {
  const std::vector<TFolderEntry> folders = BuildFolderList();
  const std::vector<String> files = CreateFileList();
  SetStatus(GetCommonText(u"A9"));
  const size_t total = files.size() + folders.size();
  size_t done = 0;
  const String dest = Installer->DestPath();
  for (const String& file : files) {
    // A file in use is moved away and deleted at the next restart.
    if (!SafeDeleteFile(file)) RunLog().Log(u"Not deleted: " + file);
    SetProgress(static_cast<int>(++done * 100 / total));
  }
  for (const TFolderEntry& folder : folders) {
    // Clean-up: a folder that cannot go stays, and nothing is reported to the user.
    TSetupHelper::DeleteFolder(folder.Path, !folder.WithContents);
    if (folder.WithContents && zel::DirectoryExists(folder.Path)) RunLog().Log(u"Not deleted whole: " + folder.Path);
    SetProgress(static_cast<int>(++done * 100 / total));
  }
}

}  // namespace kivo
