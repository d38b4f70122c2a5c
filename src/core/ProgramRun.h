#pragma once
// Running a program and waiting for it, and calling a library's (un)registration export.
#include "library/Strings.h"

namespace kivo {

// Runs a command line and waits for the process to end. False when it cannot be started
// or does not become ready for input within 5 seconds.
bool RunAndWait(zel::StringView commandLine);
// Starts a program by its absolute path, passed both as the application name and quoted
// as the first word of the command line (so a blank in the path cannot start another
// program), followed by `switches` as given (each with its own leading blank), shown
// with SW_SHOW, and waits without a time limit until it ends. False when it does not
// start. Its exit code is not read.
bool RunProgramAndWait(zel::StringView program, zel::StringView switches);

class TInstallerActiveX {
public:
  TInstallerActiveX() = delete;
  // Loads the library and calls its "DllUnregisterServer"; a library that does not load
  // or has no such export is passed over silently.
  static void Unregister(zel::StringView fileName);
  // The same with "DllRegisterServer", to register a library again; false when it was
  // not called.
  static bool Register(zel::StringView fileName);
};

}  // namespace kivo
