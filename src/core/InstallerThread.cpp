#include "core/InstallerThread.h"

#include <chrono>

#include "core/Installer.h"
#include "core/RunLog.h"
#include "core/StackTrace.h"

namespace kivo {

using zel::String;

String FormatErrorEntry(zel::StringView message, zel::StringView stackText) {
  const String rule(20, u'-');
  return String(message) + u"\r\n" + rule + u"\r\n" + String(stackText) + u"\r\n" + rule;
}

String RunUndoneText() {
  switch (Installer->Undo()) {
    case TInstaller::TUndo::None: return {};
    case TInstaller::TUndo::Incomplete: return Installer->Resources().GetText(u"Common", u"UndoIncomplete");
    case TInstaller::TUndo::Complete: break;
  }
  const bool previous =
      Installer->HasFlag(TInstallerFlag::Update) || Installer->ProductInfo().GetInstalledVersion() > 0;
  return Installer->Resources().GetText(u"Common", previous ? u"Undone" : u"UndoneFresh");
}

String ErrorEntryMessage(zel::StringView entry) {
  const String rule = u"\r\n" + String(20, u'-') + u"\r\n";
  const size_t at = entry.find(rule);
  return String(at == zel::StringView::npos ? entry : entry.substr(0, at));
}

TInstallerThread::~TInstallerThread() {
  // Stop and wait before the actions are freed: the body may still be using them.
  StopAndWait();
}

void TInstallerThread::PopulateActions() {
  Installer->ProductInfo().PopulateActions([this](const TInstallerActionClass& actionClass) {
    std::unique_ptr<TInstallerAction> action = actionClass.Create();
    action->SetOnProgress([this](TInstallerAction& sender) { ProgressChanged(sender); });
    FActions.Add(std::move(action));
  });
}

void TInstallerThread::Execute() {
  size_t started = 0;  // actions that began, the failed one included
  bool failed = false;
  try {
    PopulateActions();
    const size_t count = FActions.Count();
    for (size_t i = 0; i < count; ++i) {
      if (Terminated()) break;
      TInstallerAction& action = FActions.Items(i);
      SetCurrentAction(&action);
      RunLog().Log(u"Action " + zel::Ascii(action.ClassName()) + u" starts");
      const auto begun = std::chrono::steady_clock::now();
      started = i + 1;
      FAheadBegun = false;
      action.Perform();
      if (FAheadBegun && !Terminated())
        for (size_t j = i + 1; j < count; ++j) FActions.Items(j).AwaitAhead();
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begun).count();
      RunLog().Log(u"Action " + zel::Ascii(action.ClassName()) + u" ends after " + zel::IntToStr(ms) + u" ms");
    }
    // A stop between two actions leaves the run half done, as a failure does.
    if (!Terminated() && !Installer->HasErrors()) {
      for (size_t i = 0; i < started; ++i) FActions.Items(i).Commit();
    } else {
      failed = true;
    }
  } catch (const zel::Exception& e) {
    failed = true;
    Installer->AddError(FormatErrorEntry(e.Message(), CaptureStackText()));
  } catch (const std::exception& e) {
    // Not one of the program's own errors (out of memory, a library's failure): still
    // a failed run, never one that reports success.
    failed = true;
    Installer->AddError(FormatErrorEntry(zel::FromUtf8(e.what()), CaptureStackText()));
  }
  for (size_t i = started; i < FActions.Count(); ++i) FActions.Items(i).DropAhead();
  if (failed && started > 0) {
    RunLog().Log(u"The run did not complete: undoing its actions");
    const int failures = Installer->UndoFailures();
    for (size_t i = started; i-- > 0;) FActions.Items(i).Rollback();
    const bool complete = Installer->UndoFailures() == failures;
    Installer->SetUndo(complete ? TInstaller::TUndo::Complete : TInstaller::TUndo::Incomplete);
    RunLog().Log(complete ? u"The run is undone" : u"The run is undone in part: see the lines above");
  }
  Installer->Notify(NotifyEnded, Terminated() ? 1 : 0);
}

void TInstallerThread::BeginAhead() {
  FAheadBegun = true;
  TInstallerAction* current = CurrentAction();
  bool after = false;
  for (size_t i = 0; i < FActions.Count(); ++i) {
    TInstallerAction& action = FActions.Items(i);
    if (after) {
      {
        std::lock_guard<std::mutex> guard(FLock);
        FAhead.push_back(&action);
      }
      action.BeginAhead();
      // A stop asked for before the action was listed has told it nothing.
      if (Terminated()) action.CancelAhead();
    }
    after = after || &action == current;
  }
}

void TInstallerThread::StopRequest() {
  TZELThread::StopRequest();
  std::lock_guard<std::mutex> guard(FLock);
  if (FCurrentAction) FCurrentAction->Cancel();
  for (TInstallerAction* action : FAhead) action->CancelAhead();
}

void TInstallerThread::SetCurrentAction(TInstallerAction* action) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FCurrentAction = action;
  }
  if (action) ProgressChanged(*action);
}

void TInstallerThread::ProgressChanged(TInstallerAction&) {
  TInstallerAction* current = CurrentAction();
  const int currentPercent = current ? (current->Progress() & 0xFFFF) : 0;
  const int overall = FActions.GetProgress();
  Installer->Notify(NotifyProgress, static_cast<intptr_t>(overall) * 65536 + currentPercent);
  Installer->Notify(NotifyRepaint, 0);
}

}  // namespace kivo
