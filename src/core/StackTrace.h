#pragma once
// The call stack as text, for the error entries of the worker thread and the report
// of an unhandled exception.
#include "library/Strings.h"

namespace kivo {

// The current call stack, innermost frame first, one line per frame joined with CR LF:
// "module+0xOFFSET" (the module's file name and the return address's offset in it), or
// "0xADDRESS" outside any module. skipFrames drops frames above the caller (the
// caller's own frame is the first line at 0).
zel::String CaptureStackText(int skipFrames = 0);

}  // namespace kivo
