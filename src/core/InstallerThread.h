#pragma once
// The worker: asks the product for the run's actions, runs them one after another and
// reports progress, status and the end through the installer's notifications.
#include <mutex>

#include "core/InstallerAction.h"
#include "library/win/Thread.h"

namespace kivo {

class TInstallerThread : public zel::TZELThread {
public:
  TInstallerThread() = default;
  ~TInstallerThread() override;

  TInstallerActionList& Actions() { return FActions; }
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
  std::mutex FLock;
};

// The error-list entry for a failure: message, then the call stack between two rules.
zel::String FormatErrorEntry(zel::StringView message, zel::StringView stackText);

}  // namespace kivo
