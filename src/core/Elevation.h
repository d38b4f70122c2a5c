#pragma once
// Restarting the setup elevated: the relay of a run that an ordinary account started.
#include <cstdint>

#include "library/Strings.h"

namespace kivo {

// Starts the program's own file with the verb "runas" and "/SKIPUAC=<server window>
// <params>", after making this process the spawn server, and waits for the elevated
// copy while serving its spawn requests. False when the user declined the elevation
// prompt; other failures raise EOSError. exitCode receives the copy's exit code.
bool RunElevated(zel::StringView params, uint32_t* exitCode = nullptr);
// The same for a given program file (tests start a probe instead of themselves).
bool RunElevatedFile(zel::StringView program, zel::StringView params, uint32_t* exitCode = nullptr);

}  // namespace kivo
