#pragma once
// Message and question boxes, and the folder browser.
#include <windows.h>

#include "library/Strings.h"

namespace zel {

enum class TMessageKind { Information, Warning, Error, Question };

// The boxes are the toolkit's own in every theme (MessageForm.h), modal to owner, or to
// every window of the thread when owner is null.
// A message box with one OK button.
void ShowMessageBox(HWND owner, StringView text, StringView caption, TMessageKind kind);
// OK and Cancel with Cancel as the default; true for OK.
bool AskOkCancel(HWND owner, StringView text, StringView caption);
// An error box for the edges that must not throw: the toolkit's box without owner, or
// the system's when the toolkit's cannot be made (the error may be the toolkit's own).
void ShowErrorBox(StringView text, StringView caption) noexcept;
// Abort, Retry and Ignore with Abort as the default, a warning; IDABORT, IDRETRY or IDIGNORE.
int AskAbortRetryIgnore(HWND owner, StringView text, StringView caption);

// The captions of the message boxes' buttons (the wizard sets them from its language
// file); an ampersand marks the access key.
struct TMessageBoxTexts {
  String Ok = u"OK";
  String Cancel = u"Cancel";
  String Abort = u"&Abort";
  String Retry = u"&Retry";
  String Ignore = u"&Ignore";
};
TMessageBoxTexts& MessageBoxTexts();

// The folder browser's captions (the wizard sets them from its language file).
struct TFolderBrowserTexts {
  String Caption;
  String NewFolder;
  String Cancel;
  String Ok;
};
TFolderBrowserTexts& FolderBrowserTexts();
// Picks a folder starting at initialFolder; false when the user cancelled.
bool BrowseForFolder(HWND owner, StringView initialFolder, String& folder);

}  // namespace zel
