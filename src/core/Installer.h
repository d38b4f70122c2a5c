#pragma once
// The one object that holds a run together: resources, product information, the
// user's choices, destination, mode and flags, the error list and the worker. It is
// also the hub through which the worker reports to the windows of the main thread.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "library/IniFile.h"
#include "library/StringList.h"
#include "library/win/Handles.h"
#include "package/win/InstallerResources.h"
#include "package/win/ProductInfo.h"

namespace kivo {

class TInstallerThread;
class TInstallerExtractHelper;

// Flag bit numbers of TInstaller::Flags().
enum class TInstallerFlag : uint8_t { Auto = 0, Portable = 1, Update = 2, Silent = 3, Run = 4, NoBackup = 5 };
using TInstallerFlags = uint8_t;
constexpr TInstallerFlags FlagBit(TInstallerFlag flag) {
  return static_cast<TInstallerFlags>(1u << static_cast<int>(flag));
}

enum class TInstallerMode : uint8_t { Install = 0, Uninstall = 1 };

// Notification codes.
constexpr int NotifyEnded = 1;      // Data: 1 when the run was cancelled
constexpr int NotifyProgress = 2;   // Data: overall percent << 16 | current action's percent
constexpr int NotifyStatus = 4;     // Data: address of the status text, valid during the call
constexpr int NotifyPageState = 5;  // from pages
constexpr int NotifyRepaint = 6;

class IInstallerNotify {
public:
  virtual void Notify(int code, intptr_t data) = 0;

protected:
  ~IInstallerNotify() = default;
};

// The product's class reference; the product registers it before the run starts.
using TProductInfoClass = std::unique_ptr<TInstallerProductInfo> (*)();
extern TProductInfoClass ProductInfoClass;
// How the installer opens its resources; tests replace it to run on packages of their own.
using TResourcesFactory = std::function<std::unique_ptr<TInstallerResources>(TInstallerProductInfo*)>;
extern TResourcesFactory ResourcesFactory;

struct TSavedUninstallEntry;

// Where a run notes the files it is about to make in the destination (relative paths),
// so that the next run removes them if this one is killed before it completes. Present
// while the previous installation's files are kept aside.
class IRunJournal {
public:
  virtual void NoteMade(const std::vector<zel::String>& relative) = 0;
  // The uninstall entry as it was, before the run replaces it.
  virtual void NoteEntryBefore(const TSavedUninstallEntry& entry) = 0;

protected:
  ~IRunJournal() = default;
};

class TInstaller;
// The process-wide installer object: set by the constructor, cleared by the destructor.
extern TInstaller* Installer;

class TInstaller {
public:
  // Must run on the main thread: the notification window belongs to it.
  explicit TInstaller(zel::StringView params);
  ~TInstaller();
  TInstaller(const TInstaller&) = delete;
  TInstaller& operator=(const TInstaller&) = delete;

  void SetDestPath(zel::StringView path);
  void Start(bool wait);
  void StopThread();
  // Asks the worker to stop without waiting for it: the ended event follows.
  void RequestStop();
  void RunFinishActions();
  bool HasErrors() const { return FErrors.Count() > 0; }
  bool HasFlag(int bit) const { return bit >= 0 && bit <= 7 && (FFlags & (1u << bit)) != 0; }
  bool HasFlag(TInstallerFlag flag) const { return HasFlag(static_cast<int>(flag)); }
  void SetFlag(TInstallerFlag flag, bool value);
  void SetFlags(TInstallerFlags newFlags);
  bool ValidateFlags();
  bool IsProgramFilesPath() const;

  void AddListener(IInstallerNotify* listener);
  void RemoveListener(IInstallerNotify* listener);
  // From any thread: delivered synchronously to the listeners on the main thread.
  void Notify(int code, intptr_t data);
  void NotifyText(int code, zel::StringView text);
  void AddError(zel::StringView text);
  // Runs fn on the main thread and returns when it has run; the calling worker waits.
  // The main thread serves it from its message loop or from the waits of Start and StopThread.
  void CallOnMainThread(const std::function<void()>& fn);

  zel::TZELIniFile& Options() { return *FOptions; }
  const zel::String& DestPath() const { return FDestPath; }
  zel::TZELStringList& Errors() { return FErrors; }
  TInstallerExtractHelper& ExtractHelper() { return *FExtractHelper; }
  TInstallerMode Mode() const { return FMode; }
  TInstallerFlags Flags() const { return FFlags; }
  TInstallerProductInfo& ProductInfo() { return *FProductInfo; }
  TInstallerResources& Resources() { return *FResources; }
  int State() const { return FState; }
  // The worker reported its end after a stop request.
  bool Cancelled() const { return FCancelled; }
  TInstallerThread* Thread() { return FThread.get(); }
  HWND NotifyWindow() const { return FNotifyWindow.Get(); }
  // Whether the machine-wide registration is this destination's, as the first task that
  // asked found it: -1 not yet asked, else 0 or 1. A later task of the run must not
  // decide otherwise because an earlier one removed this folder's uninstall entry.
  int RegistrationOwned() const { return FRegistrationOwned; }
  void SetRegistrationOwned(bool owned) { FRegistrationOwned = owned ? 1 : 0; }
  IRunJournal* RunJournal() const { return FRunJournal; }
  // A failed run's undo: each part that could not be put back counts, so that the user
  // is told whether the machine is as it was.
  enum class TUndo : uint8_t { None, Complete, Incomplete };
  void NoteUndoFailure() { ++FUndoFailures; }
  int UndoFailures() const { return FUndoFailures; }
  TUndo Undo() const { return FUndo; }
  void SetUndo(TUndo undo) { FUndo = undo; }
  void SetRunJournal(IRunJournal* journal) { FRunJournal = journal; }
  // Run folders (core/RunFolder.h) this run made in the destination before the prepare
  // step looks for those of killed runs: its new files written ahead.
  void AddOwnRunFolder(zel::String name) { FOwnRunFolders.push_back(std::move(name)); }
  const std::vector<zel::String>& OwnRunFolders() const { return FOwnRunFolders; }

private:
  void ParseCommandLine(zel::StringView params);
  void DispatchNotify(int code, intptr_t data);
  static HWND CreateNotifyWindow();
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

  std::unique_ptr<zel::TZELIniFile> FOptions;
  zel::String FDestPath;
  zel::TZELStringList FErrors;
  std::unique_ptr<TInstallerExtractHelper> FExtractHelper;
  zel::TWindowHandle FNotifyWindow;
  std::vector<IInstallerNotify*> FListeners;
  std::recursive_mutex FLock;
  TInstallerMode FMode = TInstallerMode::Install;
  TInstallerFlags FFlags = 0;
  int FRegistrationOwned = -1;
  IRunJournal* FRunJournal = nullptr;
  std::vector<zel::String> FOwnRunFolders;
  std::atomic<int> FUndoFailures{0};
  TUndo FUndo = TUndo::None;
  std::unique_ptr<TInstallerProductInfo> FProductInfo;
  std::unique_ptr<TInstallerResources> FResources;
  int FState = 0;
  bool FCancelled = false;
  std::unique_ptr<TInstallerThread> FThread;
};

}  // namespace kivo
