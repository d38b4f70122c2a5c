#pragma once
// The setup program's main routine, shared by Setup.exe and the test harness.
#include <functional>

namespace kivo {

class TInstaller;

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

struct TSetupEntry {
  // Shows the wizard and returns when its window has closed.
  std::function<void(TInstaller&)> RunWizard;
};

// Restricts the DLL search to the system folder; the first thing the program does.
void RestrictDllSearch() noexcept;

int RunSetup(const TSetupEntry& entry) noexcept;

}  // namespace kivo
