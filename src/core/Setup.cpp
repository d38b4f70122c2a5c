// Setup.exe: decides what this process does (relay elevation, relay the uninstaller,
// run silently, or show the wizard), and is the one place where a start-up failure
// becomes a message for the user and an exit code for deployment tools.
#include <windows.h>
#include <shlobj.h>

#include "core/Elevation.h"
#include "core/Installer.h"
#include "core/InstallerErrors.h"
#include "core/RestartRequired.h"
#include "core/RunLog.h"
#include "core/Setup.h"
#include "core/SpawnService.h"
#include "library/win/FileSystem.h"
#include "library/CommandLine.h"
#include "library/win/Handles.h"
#include "library/win/WindowStation.h"
#include "ui/InstallerForm.h"

namespace kivo {

using zel::String;

namespace {

bool IsWinVistaOrLater() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ::GetVersionExW(&info);
#pragma GCC diagnostic pop
  return info.dwMajorVersion >= 6;
}

void ShowSetupError(const String& message) {
  RunLog().Log(u"Setup error: " + message);
  // Nobody could answer a box on an invisible window station: the log and the exit
  // code carry the error there.
  if (!zel::HasVisibleDesktop()) return;
  ::MessageBoxW(nullptr, zel::as_wcstr(message), L"Setup", MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

// Success, or success that a restart completes: deployment tools then schedule the restart.
int SuccessCode() {
  if (!RestartRequired()) return kExitSuccess;
  RunLog().Log(u"A restart is required: files in use are removed at the next restart");
  return kExitRestartRequired;
}

// The run itself, steps 2 to 10 of start-up; exceptions reach the guard in RunSetup.
int RunGuarded(const String& params, const TSetupEntry& entry) {
  if (!ProductInfoClass) throw EInstallerGeneralError(u"ProductInfoClass is nil");

  if (IsWinVistaOrLater()) {
    String value;
    if (zel::FindSwitch(params, u"SKIPUAC", value)) {
      TInstallerSpawnService::Initialize(TInstallerSpawnService::WindowFromText(value));
    } else if (!::IsUserAnAdmin()) {
      RunLog().Log(u"Not an administrator: restarting elevated");
      uint32_t exitCode = 0;
      if (!RunElevated(params, &exitCode)) return kExitElevationDeclined;
      return static_cast<int>(exitCode);
    }
  }
  if (!::IsUserAnAdmin()) throw EInstallerNoAdminRightsError();

  // Freed when the run returns, after the wizard's window has gone.
  auto installer = std::make_unique<TInstaller>(params);

  if (installer->Mode() == TInstallerMode::Uninstall) {
    String path;
    if (zel::FindSwitch(params, u"PATH", path) && zel::DirectoryExists(path)) {
      installer->SetDestPath(path);
    } else {
      // A copy in the temporary folder without a usable folder would start itself again and again.
      if (IsTempCopyFolder(zel::LongPathName(zel::ExtractFilePath(OwnFileName()))))
        throw EInstallerMysteryError(u"Cannot Start the Uninstaller");
      RunLog().Log(u"Handing over to a copy of the uninstaller in the temporary folder");
      const uint32_t exitCode = RunUninstallerFromTemp(params);
      RunLog().Log(u"The copy of the uninstaller ended with " + zel::IntToStr(static_cast<int64_t>(exitCode)));
      return static_cast<int>(exitCode);
    }
  }

  // The toolkit first, so that the language dialog already wears the wizard's skin.
  if (!installer->HasFlag(TInstallerFlag::Silent)) InitializeUserInterface();
  installer->Resources().InitializeLanguages(!installer->HasFlag(TInstallerFlag::Auto));
  RunLog().Log(u"Language: " + installer->Resources().Language());

  if (installer->HasFlag(TInstallerFlag::Silent)) {
    installer->Start(true);
    if (installer->HasErrors()) {
      String text;
      for (const String& line : installer->Errors()) text += line + u"\r\n";
      throw EInstallerInstallError(text);
    }
    installer->RunFinishActions();
    return SuccessCode();
  }

  // The wizard: its window runs the installation and, when destroyed, the finish actions.
  if (entry.RunWizard) entry.RunWizard(*installer);
  else RunInstallerWizard(*installer);
  // Closed before the run began, or stopped during it.
  if (installer->State() == 0 || installer->Cancelled()) return kExitCancelled;
  return installer->HasErrors() ? kExitFailure : SuccessCode();
}

}  // namespace

void RestrictDllSearch() noexcept {
  // Only the system folder: a DLL planted beside Setup.exe (in Downloads) or beside the
  // uninstaller's copy is never loaded. Every DLL outside the KnownDLLs is delay-loaded,
  // so nothing is loaded before this runs.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ::SetDllDirectoryW(L"");
}

int RunSetup(const TSetupEntry& entry) noexcept {
  int exitCode = kExitFailure;
  try {
    // A quoted switch ("/AUTO=C:\Program Files\KIVO", as launchers quote values with
    // spaces) is read as the switch it holds.
    const String params = zel::UnquoteSwitches(zel::GetCommandLineParams());
    RunLog().OpenFromCommandLine(params);
    RunLog().Log(u"Command line: " + params);
    try {
      exitCode = RunGuarded(params, entry);
    } catch (const zel::Exception& e) {
      ShowSetupError(e.Message());
      exitCode = kExitFailure;
    }
  } catch (const std::exception& e) {
    // Not the program's own error: still one message, and a failure code.
    ShowSetupError(zel::FromUtf8(e.what()));
    exitCode = kExitFailure;
  } catch (...) {
    exitCode = kExitFailure;
  }
  TInstallerSpawnService::Finalize();
  RunLog().Log(u"Exit code: " + zel::IntToStr(exitCode));
  return exitCode;
}

}  // namespace kivo
