#pragma once
// Starting GDI+. Every GDI+ object must be created after GdiplusStartup and destroyed
// before GdiplusShutdown of the same token.
#include <cstdint>

namespace zel {

// One startup/shutdown pair; raises Exception when GDI+ cannot start.
class TGdiPlusSession {
public:
  TGdiPlusSession();
  ~TGdiPlusSession();
  TGdiPlusSession(const TGdiPlusSession&) = delete;
  TGdiPlusSession& operator=(const TGdiPlusSession&) = delete;

private:
  uintptr_t FToken = 0;
};

// Starts GDI+ once for the whole process (thread-safe). The session is never shut
// down: images may be freed during static destruction, after any shutdown would have
// run, and the process's end releases GDI+ anyway.
void EnsureGdiPlus();

}  // namespace zel
