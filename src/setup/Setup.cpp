// Setup.exe: decides what this process does (relay elevation, relay the uninstaller,
// run silently, or show the wizard), and is the one place where a start-up failure
// becomes a message for the user and an exit code for deployment tools.
#include "setup/Setup.h"

#include <windows.h>
#include <shlobj.h>
#include <sddl.h>

#include "core/Elevation.h"
#include "core/UninstallerCopy.h"
#include "core/ExtractHelper.h"
#include "core/FreeSpace.h"
#include "core/Installer.h"
#include "core/InstallerThread.h"
#include "core/RestartRequired.h"
#include "core/RunLog.h"
#include "core/SpawnService.h"
#include "library/CommandLine.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "library/win/WindowStation.h"
#include "library/win/WindowsVersion.h"
#include "package/InstallerErrors.h"
#include "ui/InstallerForm.h"
#include "ui/LanguageDialog.h"
#include "ui/PreparingForm.h"
#include "ui/toolkit/Dialogs.h"

namespace kivo {

using zel::String;

namespace {

void ShowSetupError(const String& message) {
  RunLog().Log(u"Setup error: " + message);
  // Nobody could answer a box on an invisible window station: the log and the exit
  // code carry the error there.
  if (!zel::HasVisibleDesktop()) return;
  // The same box as the wizard's; a silent run has not set the toolkit up yet. Should
  // that fail, ShowErrorBox still shows the system's.
  try {
    InitializeUserInterface();
  } catch (...) {}
  zel::ShowErrorBox(message, u"Setup");
}

// The locked-file question in the wizard's box, as every other; a silent run sets the
// toolkit up for it.
int AskInToolkitBox(HWND owner, zel::StringView text, zel::StringView caption) {
  InitializeUserInterface();
  return zel::AskAbortRetryIgnore(owner, text, caption);
}

// One setup at a time on a machine: two runs into one folder would replace and delete
// each other's files. The handle is held for the whole run; empty when another setup
// holds the name. Only administrators and the system may open it, so an ordinary user's
// program cannot reach into it.
zel::THandle TakeSetupRunning() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;BA)(A;;GA;;;SY)", SDDL_REVISION_1,
                                                              &descriptor, nullptr))
    throw zel::EOSError(::GetLastError(), u"ConvertStringSecurityDescriptorToSecurityDescriptor");
  const zel::TLocalMemory owner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  zel::THandle mutex(::CreateMutexW(&attributes, FALSE, kSetupRunningName));
  const DWORD error = ::GetLastError();
  // Denied: it exists and was made by someone else; treated as held, never bypassed.
  if (!mutex && error == ERROR_ACCESS_DENIED) return {};
  if (!mutex) throw zel::EOSError(error, u"CreateMutex \"" + zel::from_wcstr(kSetupRunningName) + u"\"");
  if (error == ERROR_ALREADY_EXISTS) return {};
  return mutex;
}

// A second setup while one runs: says so in the user's language (no language dialog:
// the default one) and ends with Windows Installer's code for it.
int AlreadyRunning(TInstaller& installer) {
  ChooseLanguage(installer.Resources(), false);
  const String text = installer.Resources().GetText(u"Common", u"AlreadyRunning");
  RunLog().Log(u"Another setup is running: " + text);
  if (!installer.HasFlag(TInstallerFlag::Silent) && zel::HasVisibleDesktop())
    zel::ShowMessageBox(nullptr, text, installer.Resources().GetText(u"Common", u"Caption"),
                        zel::TMessageKind::Information);
  return kExitAlreadyRunning;
}

// The language that the installation being removed was set up in (KIVO.ini beside it).
String InstalledLanguage(TInstaller& installer) {
  if (installer.Mode() != TInstallerMode::Uninstall || installer.DestPath().empty()) return {};
  try {
    zel::TZELIniFile config(zel::IncludeTrailingBackslash(installer.DestPath()) + u"KIVO.ini");
    return config.ReadString(u"System", u"DefaultLang");
  } catch (const zel::Exception&) {
    return {};  // an unreadable file only loses the preselection
  }
}

// Success, or success that a restart completes: deployment tools then schedule the restart.
int SuccessCode() {
  if (!RestartRequired()) return kExitSuccess;
  RunLog().Log(u"A restart is required: files in use are removed at the next restart");
  return kExitRestartRequired;
}

// The product package decodes behind the language dialog; what is left of the decode is
// waited for here, in a small window unless the run is silent. False when the user
// closed that window. A silent install leaves the wait to the run, which spends it in the
// close pass's pause (nothing is touched before the package has been verified).
bool TakeUpProduct(TInstaller& installer) {
  TInstallerResources& resources = installer.Resources();
  if (!resources.ProductPending()) return true;
  if (installer.HasFlag(TInstallerFlag::Silent) && installer.Mode() == TInstallerMode::Install) return true;
  if (!installer.HasFlag(TInstallerFlag::Silent) && !WaitWithPreparingWindow(resources)) {
    RunLog().Log(u"Cancelled while the product package was decoding");
    return false;
  }
  try {
    TakeUpProductDecode(resources, u"start-up");
  } catch (const EInstallerDecodeCancelled&) {
    return false;
  }
  return true;
}

// The run itself; exceptions reach the guard in RunSetup.
int RunGuarded(const String& params) {
  if (!ProductInfoClass) throw EInstallerGeneralError(u"ProductInfoClass is nil");

  if (zel::WindowsVersion().IsVistaOrLater()) {
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
      if (IsTempCopyFolder(zel::LongPathName(zel::ExtractFilePath(zel::ModuleFileName()))))
        throw EInstallerMysteryError(u"Cannot Start the Uninstaller");
      RunLog().Log(u"Handing over to a copy of the uninstaller in the temporary folder");
      const uint32_t exitCode = RunUninstallerFromTemp(params);
      RunLog().Log(u"The copy of the uninstaller ended with " + zel::IntToStr(static_cast<int64_t>(exitCode)));
      return static_cast<int>(exitCode);
    }
  }

  // The toolkit first, so that the language dialog already wears the wizard's skin.
  if (!installer->HasFlag(TInstallerFlag::Silent)) InitializeUserInterface();
  AskLockedFileQuestion = AskInToolkitBox;
  const zel::THandle running = TakeSetupRunning();
  if (!running) return AlreadyRunning(*installer);
  ChooseLanguage(installer->Resources(), !installer->HasFlag(TInstallerFlag::Auto), InstalledLanguage(*installer));
  RunLog().Log(u"Language: " + installer->Resources().Language());
  if (!TakeUpProduct(*installer)) return kExitCancelled;

  if (installer->HasFlag(TInstallerFlag::Silent)) {
    installer->Start(true);
    if (installer->HasErrors()) {
      String text;
      // The call stacks stay in the log; the box shows what went wrong.
      for (const String& line : installer->Errors()) text += ErrorEntryMessage(line) + u"\r\n";
      const String undone = RunUndoneText();
      if (!undone.empty()) text += u"\r\n" + undone + u"\r\n";
      if (RunLog().IsOpen())
        text +=
            u"\r\n" + zel::Format(installer->Resources().GetText(u"Common", u"FailedLog"), RunLog().Path()) + u"\r\n";
      throw EInstallerInstallError(text);
    }
    installer->RunFinishActions();
    return SuccessCode();
  }

  // The wizard: its window runs the installation and, when destroyed, the finish actions.
  RunInstallerWizard(*installer);
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

int RunSetup() noexcept {
  int exitCode = kExitFailure;
  try {
    // A quoted switch ("/AUTO=C:\Program Files\KIVO", as launchers quote values with
    // spaces) is read as the switch it holds.
    const String params = zel::UnquoteSwitches(zel::GetCommandLineParams());
    RunLog().OpenFromCommandLine(params);
    RunLog().Log(u"Command line: " + params);
    try {
      exitCode = RunGuarded(params);
    } catch (const EInstallerCancelled&) {
      exitCode = kExitCancelled;
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
