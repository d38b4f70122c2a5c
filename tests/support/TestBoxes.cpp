#include "TestBoxes.h"

namespace kivo::test {

TMessageBoxWatcher::TMessageBoxWatcher(std::function<void(HWND box)> found) {
  const DWORD owner = ::GetCurrentThreadId();
  FThread = std::thread([this, found = std::move(found), owner] {
    while (!FStop) {
      HWND box = ::FindWindowW(L"TZELMessageForm", nullptr);
      if (box && ::IsWindowVisible(box) && ::GetWindowThreadProcessId(box, nullptr) == owner) {
        found(box);
        return;
      }
      ::Sleep(5);  // polling for the box to appear, not waiting out a time
    }
  });
}

TMessageBoxWatcher::~TMessageBoxWatcher() {
  FStop = true;
  FThread.join();
}

}  // namespace kivo::test
