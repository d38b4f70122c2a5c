#include "product/ActionIntegrate.h"

#include "core/ProgramRun.h"
#include "core/FolderSecurity.h"
#include "core/Installer.h"
#include "core/RunLog.h"
#include "core/SummaryBuilder.h"
#include "library/win/FileSystem.h"
#include "library/win/WindowsVersion.h"

namespace kivo {

using zel::String;

String TInstallerActionIntegrate::SwitchText(zel::TZELIniFile& options, bool autoMode, bool windows8OrLater) {
  String text;
  if (options.ReadBool(u"Integration", u"IntegrateToWindows", true)) text += u" /REG=L1 /REG=D1 /REG=R1";
  if (options.ReadBool(u"Integration", u"RegisterContextMenu", true)) text += u" /REG=M1";
  if (options.ReadBool(u"Integration", u"AssociateWithFiles", true)) {
    text += u" /REG=R2";
    if (windows8OrLater && !autoMode) text += u" /REG_UI";
  }
  return text;
}

void TInstallerActionIntegrate::Execute() {
  FRan = false;
  const String program = Installer->DestPath() + u"Elevator.exe";
  if (!zel::FileExists(program)) {
    RunLog().Log(u"Integration skipped: no " + program);
    return;
  }
  const String switches =
      SwitchText(Options(), Installer->HasFlag(TInstallerFlag::Auto), zel::WindowsVersion().IsWindows8OrLater());
  if (switches.empty()) {
    RunLog().Log(u"Integration skipped: every option is off");
    return;
  }
  String reason;
  if (!IsSafeToRun(Installer->DestPath(), program, reason)) {
    // Elevated, it would run whatever a user put in its place.
    RunLog().Log(u"Integration skipped: not run, " + reason + u": " + program);
    return;
  }
  // The registration program's own result is its business: neither a start failure nor
  // its exit code stops the run.
  const String command = u"\"" + program + u"\"" + switches;
  FRan = RunProgramAndWait(program, switches);
  RunLog().Log((FRan ? u"Ran: " : u"Could not start: ") + command);
}

void TInstallerActionIntegrate::Rollback() noexcept {
  if (!FRan) return;
  FRan = false;
  try {
    // The program is still there: the files go after this, in the reverse order of the run.
    const String program = Installer->DestPath() + u"Elevator.exe";
    String reason;
    if (!IsSafeToRun(Installer->DestPath(), program, reason)) {
      RunLog().Log(u"Integration not undone: not run, " + reason + u": " + program);
      Installer->NoteUndoFailure();
      return;
    }
    const bool ran = RunProgramAndWait(program, u" /REG=U");
    if (!ran) Installer->NoteUndoFailure();
    RunLog().Log((ran ? u"Ran (the run is undone): \"" : u"Could not start (the run is undone): \"") + program +
                 u"\" /REG=U");
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Integration not undone (" + e.Message() + u")");
    Installer->NoteUndoFailure();
  }
}

void TInstallerActionIntegrate::BuildSummary(TInstallerSummaryBuilder& builder) {
  builder.SetGroup(u"PageIntegration", u"LB2");
  if (Options().ReadBool(u"Integration", u"IntegrateToWindows", true)) builder.AddLine(u"PageIntegration", u"CB4");
  if (Options().ReadBool(u"Integration", u"RegisterContextMenu", true)) builder.AddLine(u"PageIntegration", u"CB5");
  if (Options().ReadBool(u"Integration", u"AssociateWithFiles", true)) builder.AddLine(u"PageIntegration", u"CB3");
}

}  // namespace kivo
