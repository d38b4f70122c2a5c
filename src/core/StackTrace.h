#pragma once
// The call stack as text, for the error entries of the worker thread and the report
// of an unhandled exception.
#include "library/Strings.h"

namespace kivo {

// The current call stack, innermost frame first, one line per frame joined with CR LF:
// "module+0xOFFSET", followed by " symbol+0xDISPLACEMENT" where the debug help library
// knows the function. skipFrames drops frames above the caller (the caller's own frame
// is the first line at 0).
zel::String CaptureStackText(int skipFrames = 0);

}  // namespace kivo
