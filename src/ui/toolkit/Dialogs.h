#pragma once
// Message and question boxes, and the folder browser.
#include <windows.h>

#include "library/Strings.h"

namespace zel {

enum class TMessageKind { Information, Warning, Error, Question };

// A message box with one OK button, modal to owner.
void ShowMessageBox(HWND owner, StringView text, StringView caption, TMessageKind kind);
// OK and Cancel with Cancel as the default; true for OK.
bool AskOkCancel(HWND owner, StringView text, StringView caption);

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
