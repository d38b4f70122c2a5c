#include "library/win/GdiPlus.h"

#include <windows.h>
// WIN32_LEAN_AND_MEAN leaves out the COM declarations that gdiplus.h uses.
#include <objidl.h>
#include <gdiplus.h>

#include "library/Exceptions.h"

namespace zel {

TGdiPlusSession::TGdiPlusSession() {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  const Gdiplus::Status status = Gdiplus::GdiplusStartup(&token, &input, nullptr);
  if (status != Gdiplus::Ok)
    throw Exception(Format(u"GDI+ could not be started (status %d)", static_cast<int>(status)));
  FToken = token;
}

TGdiPlusSession::~TGdiPlusSession() { Gdiplus::GdiplusShutdown(FToken); }

void EnsureGdiPlus() {
  // Deliberately leaked, see the header.
  static TGdiPlusSession* const session = new TGdiPlusSession();
  (void)session;
}

}  // namespace zel
