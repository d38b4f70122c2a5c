#include "package/win/ActionExtract.h"

#include <algorithm>

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
  if (!dest.empty() && zel::StartsWithText(path, dest) && !zel::FileExists(path)) FMade.push_back(path);
}

void TInstallerActionExtract::Execute() {
  FMade.clear();
  SetStatus(GetCommonText(u"A4"));
  const std::vector<const TInstallerScriptFile*> files = CollectFiles();
  const size_t count = files.size();
  for (size_t i = 0; i < count; ++i) {
    SetProgress(static_cast<int>((i + 1) * 100 / count));
    NoteNew(Resources().ExpandPath(files[i]->Name));
    ExtractFile(*files[i]);
  }
  SetStatus(GetCommonText(u"A7"));
  const zel::String uninstaller = Installer->DestPath() + u"Uninstall.exe";
  NoteNew(uninstaller);
  NoteNew(zel::ChangeFileExt(uninstaller, u".dat"));
  RegisterUninstall(Installer->DestPath(), files);
}

void TInstallerActionExtract::Rollback() noexcept {
  if (FMade.empty()) return;
  try {
    const zel::String& dest = Installer->DestPath();
    zel::TFolderTree tree(zel::TSafeFolder::Open(dest));
    std::vector<zel::String> folders;
    for (size_t i = FMade.size(); i-- > 0;) {
      const zel::String relative = FMade[i].substr(dest.size());
      const size_t slash = relative.rfind(u'\\');
      try {
        if (const zel::TSafeFolder* folder = tree.Folder(zel::ExtractFilePath(relative)))
          if (folder->DeleteEntry(zel::ExtractFileName(relative)) == zel::TDeleteResult::Deleted)
            RunLog().Log(u"Removed (the run is undone): " + FMade[i]);
      } catch (const zel::Exception& e) {
        RunLog().Log(u"Not removed (" + e.Message() + u"): " + FMade[i]);
      }
      if (slash != zel::String::npos) folders.push_back(relative.substr(0, slash + 1));
    }
    // The folders the files were made in, deepest first, where they are empty now.
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (size_t i = folders.size(); i-- > 0;) {
      tree.Forget(folders[i]);
      const zel::String trimmed = zel::ExcludeTrailingBackslash(folders[i]);
      if (const zel::TSafeFolder* parent = tree.Folder(zel::ExtractFilePath(trimmed)))
        parent->DeleteEntry(zel::ExtractFileName(trimmed));
    }
  } catch (const zel::Exception& e) {
    RunLog().Log(u"The files of the undone run cannot all be removed (" + e.Message() + u")");
  }
  FMade.clear();
}

}  // namespace kivo
