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

template <typename T>
struct TComRelease {
  void operator()(T* p) const {
    if (p) p->Release();
  }
};
template <typename T>
using TComPtr = std::unique_ptr<T, TComRelease<T>>;

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
  TZELMessageForm(owner, text, caption, FormIcon(kind), TZELMessageForm::TButtons::Ok).ShowModal();
}

bool AskOkCancel(HWND owner, StringView text, StringView caption) {
  return TZELMessageForm(owner, text, caption, TZELMessageForm::TIcon::Question, TZELMessageForm::TButtons::OkCancel, 1)
             .ShowModal() == IDOK;
}

void ShowErrorBox(StringView text, StringView caption) noexcept {
  try {
    ShowMessageBox(nullptr, text, caption, TMessageKind::Error);
    return;
  } catch (...) {}
  try {
    const String t(text);
    const String c(caption);
    ::MessageBoxW(nullptr, as_wcstr(t), as_wcstr(c), MB_OK | MB_ICONERROR | MB_TASKMODAL);
  } catch (...) {
    // Out of memory for the copies: the log already holds the error.
  }
}

int AskAbortRetryIgnore(HWND owner, StringView text, StringView caption) {
  return TZELMessageForm(owner, text, caption, TZELMessageForm::TIcon::Warning,
                         TZELMessageForm::TButtons::AbortRetryIgnore)
      .ShowModal();
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
