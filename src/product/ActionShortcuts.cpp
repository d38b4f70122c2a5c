#include "product/ActionShortcuts.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "core/FileOperations.h"
#include "core/Installer.h"
#include "package/InstallerScript.h"
#include "core/RunLog.h"
#include "core/SummaryBuilder.h"
#include "library/Exceptions.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/WindowsVersion.h"

namespace kivo {

using zel::String;
using zel::StringView;

namespace {

// COM for the worker thread for the time of one Execute.
class TComApartment {
public:
  TComApartment() : FInitialized(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~TComApartment() {
    if (FInitialized) ::CoUninitialize();
  }
  TComApartment(const TComApartment&) = delete;
  TComApartment& operator=(const TComApartment&) = delete;

private:
  bool FInitialized;
};

// One COM interface pointer, released when it goes.
template <typename T>
class TComPtr {
public:
  TComPtr() = default;
  ~TComPtr() {
    if (FPtr) FPtr->Release();
  }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;
  T* operator->() const { return FPtr; }
  T* Get() const { return FPtr; }
  void** Out() { return reinterpret_cast<void**>(&FPtr); }

private:
  T* FPtr = nullptr;
};

bool CreateShellLink(TComPtr<IShellLinkW>& link, TComPtr<IPersistFile>& file) {
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.Out())))
    return false;
  return SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.Out()));
}

// A target given as a web address is no file path: only its variables are expanded.
bool IsUrl(StringView text) { return text.find(u"://") != StringView::npos; }

}  // namespace

bool ReadShellLinkTarget(StringView linkPath, String& target) {
  target.clear();
  TComPtr<IShellLinkW> link;
  TComPtr<IPersistFile> file;
  if (!CreateShellLink(link, file)) return false;
  const String path(linkPath);
  if (FAILED(file->Load(zel::as_wcstr(path), STGM_READ))) return false;
  wchar_t buffer[MAX_PATH * 4] = {};
  // The path as stored, not resolved against the file system.
  if (FAILED(link->GetPath(buffer, MAX_PATH * 4, nullptr, SLGP_RAWPATH))) return false;
  target = zel::from_wcstr(buffer);
  return true;
}

bool WriteShellLink(StringView linkPath, StringView target) {
  TComPtr<IShellLinkW> link;
  TComPtr<IPersistFile> file;
  if (!CreateShellLink(link, file)) return false;
  const String path(linkPath), targetText(target);
  if (FAILED(link->SetPath(zel::as_wcstr(targetText)))) return false;
  return SUCCEEDED(file->Save(zel::as_wcstr(path), TRUE));
}

bool TInstallerActionShortcuts::TakesEntry(const TInstallerScriptFile& entry, const zel::TZELStringList& markers,
                                           bool windows8OrLater) {
  const String link = zel::UpperCase(entry.Name);
  bool marked = false;
  for (const String& marker : markers) marked = marked || link.find(marker) != String::npos;
  if (!marked) return false;
  return !windows8OrLater || zel::EndsWithText(entry.GetTextOrName(), u".exe");
}

void TInstallerActionShortcuts::Execute() {
  SetStatus(GetCommonText(u"A2"));
  FWritten.clear();
  FFoldersMade.clear();
  const bool portable = Installer->HasFlag(TInstallerFlag::Portable);
  FMarkers.Clear();
  if (Options().ReadBool(u"Integration", u"ShortcutDesktop", !portable)) FMarkers.Add(u"$DESKTOP");
  if (Options().ReadBool(u"Integration", u"ShortcutStartMenu", !portable)) FMarkers.Add(u"$STARTMENU");

  TComApartment apartment;
  const TInstallerScriptGroup& shortcuts = Script().Shortcuts;
  const bool windows8 = zel::WindowsVersion().IsWindows8OrLater();
  size_t done = 0;
  for (const auto& entry : shortcuts) {
    ++done;
    if (TakesEntry(*entry, FMarkers, windows8)) {
      const String linkPath = Resources().ExpandPath(entry->Name);
      const String targetText = entry->GetTextOrName();
      const String target =
          IsUrl(targetText) ? Resources().ExpandVariables(targetText) : Resources().ExpandPath(targetText);
      const String folder = zel::ExtractFilePath(linkPath);
      const bool folderExisted = zel::DirectoryExists(folder);
      String current;
      bool folderMade = true;
      try {
        ForceFolder(folder);
        if (!folderExisted) FFoldersMade.push_back(folder);
      } catch (const zel::Exception&) {
        folderMade = false;  // a folder that cannot be made skips its links, no more
      }
      const bool existed = zel::FileExists(linkPath);
      const bool readable = existed && ReadShellLinkTarget(linkPath, current);
      if (!folderMade) {
        RunLog().Log(u"Shortcut skipped (no folder): " + linkPath);
      } else if (readable && current == target) {
        RunLog().Log(u"Shortcut unchanged: " + linkPath + u" -> " + target);
      } else if (WriteShellLink(linkPath, target)) {
        RunLog().Log(u"Shortcut written: " + linkPath + u" -> " + target);
        FWritten.push_back({linkPath, existed, readable ? current : String()});
      } else {
        RunLog().Log(u"Shortcut not written: " + linkPath + u" -> " + target);
      }
    }
    SetProgress(static_cast<int>(done * 100 / shortcuts.Count()));
  }
}

void TInstallerActionShortcuts::Rollback() noexcept {
  try {
    TComApartment apartment;
    for (size_t i = FWritten.size(); i-- > 0;) {
      const TWrittenLink& link = FWritten[i];
      if (!link.Existed) {
        if (SafeDeleteFile(link.Path)) RunLog().Log(u"Removed (the run is undone): " + link.Path);
      } else if (!link.Previous.empty() && WriteShellLink(link.Path, link.Previous)) {
        RunLog().Log(u"Restored (the run is undone): " + link.Path + u" -> " + link.Previous);
      } else {
        RunLog().Log(u"Not restored (its earlier target is unknown): " + link.Path);
        Installer->NoteUndoFailure();
      }
    }
    // Deepest first; only where nothing else was put in them.
    for (size_t i = FFoldersMade.size(); i-- > 0;)
      if (::RemoveDirectoryW(zel::as_wcstr(FFoldersMade[i])))
        RunLog().Log(u"Removed (the run is undone): " + FFoldersMade[i]);
  } catch (const std::exception&) {
    RunLog().Log(u"The shortcuts of the undone run cannot all be removed");
    Installer->NoteUndoFailure();
  }
  FWritten.clear();
  FFoldersMade.clear();
}

void TInstallerActionShortcuts::BuildSummary(TInstallerSummaryBuilder& builder) {
  const bool portable = Installer->HasFlag(TInstallerFlag::Portable);
  builder.SetGroup(u"PageIntegration", u"LB1");
  if (Options().ReadBool(u"Integration", u"ShortcutDesktop", !portable)) builder.AddLine(u"PageIntegration", u"CB1");
  if (Options().ReadBool(u"Integration", u"ShortcutStartMenu", !portable)) builder.AddLine(u"PageIntegration", u"CB2");
}

}  // namespace kivo
