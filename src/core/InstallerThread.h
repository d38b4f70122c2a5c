#pragma once
// The worker: asks the product for the run's actions, runs them one after another and
// reports progress, status and the end through the installer's notifications.
#include <mutex>
#include <vector>

#include "core/InstallerAction.h"
#include "library/win/Thread.h"

namespace kivo {

class TInstallerThread : public zel::TZELThread {
public:
  TInstallerThread() = default;
  ~TInstallerThread() override;

  TInstallerActionList& Actions() { return FActions; }
  // Asks the body to stop and tells the running action, without waiting.
  void RequestStop() { StopRequest(); }
  // Lets the actions after the current one begin their work ahead (BeginAhead); called by
  // the current action, on this thread, once it is clear that the run goes on.
  void BeginAhead();
  TInstallerAction* CurrentAction() {
    std::lock_guard<std::mutex> guard(FLock);
    return FCurrentAction;
  }

protected:
  void Execute() override;
  void StopRequest() override;
  virtual void PopulateActions();

private:
  void SetCurrentAction(TInstallerAction* action);
  void ProgressChanged(TInstallerAction& sender);

  TInstallerActionList FActions;
  TInstallerAction* FCurrentAction = nullptr;
  bool FAheadBegun = false;               // by the action running now
  std::vector<TInstallerAction*> FAhead;  // every action that began work ahead; under FLock
  std::mutex FLock;
};

// The error-list entry for a failure: message, then the call stack between two rules.
zel::String FormatErrorEntry(zel::StringView message, zel::StringView stackText);
// What a failed run left, for the user: the machine as it was (with or without a previous
// installation) or not all of it; empty when nothing was undone.
zel::String RunUndoneText();
// What the user reads of an entry: its message without the call stack (which stays in
// the run log).
zel::String ErrorEntryMessage(zel::StringView entry);

}  // namespace kivo
