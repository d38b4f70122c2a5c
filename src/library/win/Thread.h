#pragma once
// The component library's thread: created suspended, resumed explicitly; destroying it
// asks the body to stop (StopRequest) and waits for its end, serving sent messages
// meanwhile, since a worker's synchronous notifications target this thread's windows.
#include <windows.h>

#include <atomic>

#include "library/win/Handles.h"

namespace zel {

class TZELThread {
public:
  TZELThread();
  virtual ~TZELThread();
  TZELThread(const TZELThread&) = delete;
  TZELThread& operator=(const TZELThread&) = delete;

  void Resume();
  bool Terminated() const { return FTerminated.load(); }
  void Terminate() { FTerminated.store(true); }
  HANDLE Handle() const { return FHandle.Get(); }
  // Waits for the body's end, serving sent messages; true when it has ended.
  bool WaitFor(DWORD timeoutMs = INFINITE);
  bool Finished() const { return FFinished.load(); }

protected:
  virtual void Execute() = 0;
  // Runs when the thread object is being destroyed, on the destroying thread: resumes a
  // suspended thread and sets the terminated flag. Derived classes tell their work.
  virtual void StopRequest();
  // Derived destructors call this first, so the body never runs against a half-destroyed object.
  void StopAndWait();

private:
  static DWORD WINAPI ThreadProc(void* self) noexcept;

  THandle FHandle;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FStarted = false;
  bool FStopped = false;
};

}  // namespace zel
