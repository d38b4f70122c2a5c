#include "ui/toolkit/Dialogs.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <memory>

#include "library/Exceptions.h"
#include "library/win/Handles.h"
#include "ui/toolkit/MessageForm.h"
#include "ui/toolkit/Theme.h"

namespace zel {

namespace {

UINT IconFlag(TMessageKind kind) {
  switch (kind) {
    case TMessageKind::Information: return MB_ICONINFORMATION;
    case TMessageKind::Warning: return MB_ICONWARNING;
    case TMessageKind::Error: return MB_ICONERROR;
    case TMessageKind::Question: return MB_ICONQUESTION;
  }
  return 0;
}

// The system's message box: its buttons and texts are plain child controls, which
// screen readers and the test driver read as they are.
int Box(HWND owner, StringView text, StringView caption, UINT flags) {
  const String t(text);
  const String c(caption);
  return ::MessageBoxW(owner, as_wcstr(t), as_wcstr(c), flags | (owner ? MB_APPLMODAL : MB_TASKMODAL));
}

template <typename T>
struct TComRelease {
  void operator()(T* p) const { if (p) p->Release(); }
};
template <typename T>
using TComPtr = std::unique_ptr<T, TComRelease<T>>;

// The system's boxes are light only: in dark mode the toolkit shows its own.
bool UseOwnBox() { return IsDarkMode() && !IsHighContrast(); }

TZELMessageForm::TIcon FormIcon(TMessageKind kind) {
  switch (kind) {
    case TMessageKind::Information: return TZELMessageForm::TIcon::Information;
    case TMessageKind::Warning: return TZELMessageForm::TIcon::Warning;
    case TMessageKind::Error: return TZELMessageForm::TIcon::Error;
    case TMessageKind::Question: return TZELMessageForm::TIcon::Question;
  }
  return TZELMessageForm::TIcon::Information;
}

}  // namespace

void ShowMessageBox(HWND owner, StringView text, StringView caption, TMessageKind kind) {
  if (UseOwnBox()) {
    TZELMessageForm(text, caption, FormIcon(kind), false, false).ShowModal(owner);
    return;
  }
  Box(owner, text, caption, MB_OK | IconFlag(kind));
}

bool AskOkCancel(HWND owner, StringView text, StringView caption) {
  if (UseOwnBox())
    return TZELMessageForm(text, caption, TZELMessageForm::TIcon::Question, true, true).ShowModal(owner) == IDOK;
  return Box(owner, text, caption, MB_OKCANCEL | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDOK;
}

TFolderBrowserTexts& FolderBrowserTexts() {
  static TFolderBrowserTexts texts;
  return texts;
}

bool BrowseForFolder(HWND owner, StringView initialFolder, String& folder) {
  IFileOpenDialog* raw = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&raw))))
    throw Exception(u"The folder browser cannot be shown");
  TComPtr<IFileOpenDialog> dialog(raw);
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  const TFolderBrowserTexts& texts = FolderBrowserTexts();
  if (!texts.Caption.empty()) dialog->SetTitle(as_wcstr(texts.Caption));
  if (!texts.Ok.empty()) dialog->SetOkButtonLabel(as_wcstr(texts.Ok));
  // The nearest existing folder of the start path.
  String start = String(initialFolder);
  while (!start.empty()) {
    const DWORD attributes = ::GetFileAttributesW(as_wcstr(start));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) break;
    start = ExtractFilePath(ExcludeTrailingBackslash(start));
  }
  if (!start.empty()) {
    IShellItem* item = nullptr;
    if (SUCCEEDED(::SHCreateItemFromParsingName(as_wcstr(start), nullptr, IID_PPV_ARGS(&item)))) {
      dialog->SetFolder(item);
      item->Release();
    }
  }
  if (dialog->Show(owner) != S_OK) return false;
  IShellItem* result = nullptr;
  if (FAILED(dialog->GetResult(&result))) return false;
  TComPtr<IShellItem> chosen(result);
  PWSTR path = nullptr;
  if (FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path))) return false;
  folder = from_wcstr(path);
  ::CoTaskMemFree(path);
  return true;
}

}  // namespace zel
