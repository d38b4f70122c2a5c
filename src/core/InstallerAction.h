#pragma once
// The steps of a run. Each action derives from TInstallerAction; the product names the
// classes (PopulateActions), the worker creates and runs them in order.
#include <functional>
#include <memory>
#include <vector>

#include "library/IniFile.h"
#include "package/win/ProductInfo.h"

namespace kivo {

class TInstallerResources;
class TInstallerScript;
class TInstallerScriptFile;
class TInstallerSummaryBuilder;

// Services every step (and every update task) has: the installer's objects and texts.
class TInstallerPersistent {
public:
  virtual ~TInstallerPersistent() = default;
  TInstallerProductInfo& ProductInfo() const;
  TInstallerResources& Resources() const;
  zel::TZELIniFile& Options() const;
  TInstallerScript& Script() const;
  zel::String GetText(zel::StringView section, zel::StringView key) const;
  zel::String GetCommonText(zel::StringView key) const;
};

class TInstallerAction : public TInstallerPersistent {
public:
  using TProgressEvent = std::function<void(TInstallerAction& sender)>;

  virtual void Execute() = 0;
  virtual void BuildSummary(TInstallerSummaryBuilder& builder) {}
  // Told on the main thread that the user asked to stop while this action runs.
  virtual void Cancel() {}
  // After every action of the run has succeeded: what was kept for a roll-back may go.
  // Never throws: the run has succeeded, whatever stays behind is logged.
  virtual void Commit() noexcept {}
  // The run failed or was cancelled after this action started (it may itself have failed
  // half-way): undo what it did, as far as it can, in reverse order of the actions. Never
  // throws; logs what it could not undo.
  virtual void Rollback() noexcept {}
  // Work that may begin before the action's turn, while an earlier action waits (the
  // close pass's pause); Execute takes it up. Started on the worker thread.
  virtual void BeginAhead() {}
  // Waits for that work at the end of the action that let it begin, and raises its
  // failure there: a full disk then stops the run before anything else is touched.
  virtual void AwaitAhead() {}
  // The run ended before this action's turn: what BeginAhead made goes. Never throws.
  virtual void DropAhead() noexcept {}
  // Told on the main thread that the user asked to stop while work begun ahead may still
  // run: it stops soon, so that neither the wait for it nor its drop keeps the user waiting.
  virtual void CancelAhead() noexcept {}
  virtual const char* ClassName() const = 0;

  // Execute, then 100 %.
  void Perform();
  void SetProgress(int value);
  int Progress() const { return FProgress; }
  void SetOnProgress(TProgressEvent handler) { FOnProgress = std::move(handler); }

protected:
  void SetStatus(zel::StringView text);
  void ExtractFile(const TInstallerScriptFile& entry);
  void ForceFolder(zel::StringView path);
  void RegisterUninstall(zel::StringView destPath, const std::vector<const TInstallerScriptFile*>& files);

private:
  int FProgress = 0;
  TProgressEvent FOnProgress;
};

// Declares the class name every action reports (for the summary, the run log and tests).
#define KIVO_ACTION_CLASS(Name)                                    \
public:                                                            \
  static constexpr const char* ClassNameStatic() { return #Name; } \
  const char* ClassName() const override { return #Name; }

// The worker's actions, in run order; owns them.
class TInstallerActionList {
public:
  void Add(std::unique_ptr<TInstallerAction> action) { FItems.push_back(std::move(action)); }
  size_t Count() const { return FItems.size(); }
  TInstallerAction& Items(size_t index) const { return *FItems[index]; }
  // Integer mean of the actions' progress; 0 for an empty list.
  int GetProgress() const;

private:
  std::vector<std::unique_ptr<TInstallerAction>> FItems;
};

}  // namespace kivo
