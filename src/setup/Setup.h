#pragma once
// The setup program's main routine: the run from the command line to the exit code,
// with the wizard's window or without.

namespace kivo {

// Exit codes in the convention deployment tools know from Windows Installer.
constexpr int kExitSuccess = 0;
constexpr int kExitCancelled = 1602;
constexpr int kExitFailure = 1603;
constexpr int kExitElevationDeclined = 1223;
// The run succeeded, but a file it removes stays until the next restart.
constexpr int kExitRestartRequired = 3010;
constexpr int kExitAlreadyRunning = 1618;

// The machine-wide name that one running setup holds (tests hold it too).
constexpr const wchar_t* kSetupRunningName = L"Global\\KIVO Setup Running";

// Restricts the DLL search to the system folder; the first thing the program does.
void RestrictDllSearch() noexcept;

int RunSetup() noexcept;

}  // namespace kivo
