#pragma once
// The toolkit's message boxes in tests: found and answered from a thread of their own,
// since a box is modal and the test's thread is inside it meanwhile.
#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>

namespace kivo::test {

// Waits for the first visible message box of the thread that made the watcher and hands
// it to `found`, which reads and answers it; stops looking when the watcher goes.
class TMessageBoxWatcher {
public:
  explicit TMessageBoxWatcher(std::function<void(HWND box)> found);
  ~TMessageBoxWatcher();
  TMessageBoxWatcher(const TMessageBoxWatcher&) = delete;
  TMessageBoxWatcher& operator=(const TMessageBoxWatcher&) = delete;

private:
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace kivo::test
