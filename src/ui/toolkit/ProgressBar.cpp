#include "ui/toolkit/ProgressBar.h"

#include <commctrl.h>
#include <uxtheme.h>

namespace zel {

TZELProgressBar::TZELProgressBar(TZELContainer& parent) : TZELControl(parent) {
  CreateHandle(PROGRESS_CLASSW, 0);
  ::SendMessageW(Handle(), PBM_SETRANGE32, 0, 100);
  ApplyTheme();
}

int TZELProgressBar::Position() const { return static_cast<int>(::SendMessageW(Handle(), PBM_GETPOS, 0, 0)); }

void TZELProgressBar::SetPosition(int position) { ::SendMessageW(Handle(), PBM_SETPOS, static_cast<WPARAM>(position), 0); }

void TZELProgressBar::ApplyTheme() {
  // The visual style ignores the colours.
  ::SetWindowTheme(Handle(), L"", L"");
  ::SendMessageW(Handle(), PBM_SETBARCOLOR, 0, static_cast<LPARAM>(ToColorRef(kivo::Skin.ProgressBar)));
  ::SendMessageW(Handle(), PBM_SETBKCOLOR, 0, static_cast<LPARAM>(ToColorRef(kivo::Skin.ProgressBackground)));
  Invalidate();
}

}  // namespace zel
