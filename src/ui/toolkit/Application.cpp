#include "ui/toolkit/Application.h"

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <vector>

#include "library/win/GdiPlus.h"
#include "library/win/Handles.h"
#include "ui/toolkit/Form.h"

namespace zel {

namespace Application {

namespace {

int NotificationDepth = 0;
HWND MainWindow = nullptr;

std::function<void(const String&)>& LinkHandler() {
  static std::function<void(const String&)> handler = [](const String& url) {
    ::ShellExecuteW(nullptr, L"open", as_wcstr(url), nullptr, nullptr, SW_SHOWNORMAL);
  };
  return handler;
}

void Dispatch(MSG& message) {
  // A key queued for a control that a page change has hidden since: the dialog manager
  // looks for mnemonics by walking the visible controls from it and, under Wine, never
  // comes back to it (an endless loop). The key goes to the control that has the focus now.
  if (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST && message.hwnd &&
      !::IsWindowVisible(message.hwnd)) {
    HWND focus = ::GetFocus();
    if (!focus || !::IsWindowVisible(focus)) return;
    message.hwnd = focus;
  }
  if (MainWindow && ::IsWindow(MainWindow) && ::IsDialogMessageW(MainWindow, &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

}  // namespace

void Initialize() {
  INITCOMMONCONTROLSEX controls{sizeof(controls),
                                ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_LINK_CLASS | ICC_USEREX_CLASSES};
  ::InitCommonControlsEx(&controls);
  // Rich edit and the folder browser are COM-based; the main thread is an STA.
  ::OleInitialize(nullptr);
  EnsureGdiPlus();
  // Held for the life of the process: rich-edit windows may exist until its end.
  static TModuleHandle richEdit(::LoadLibraryExW(L"msftedit.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

void Run(TZELForm& mainForm) {
  MainWindow = mainForm.Handle();
  mainForm.SetMainForm(true);
  MSG message;
  while (!mainForm.Destroyed() && ::GetMessageW(&message, nullptr, 0, 0) > 0) Dispatch(message);
  MainWindow = nullptr;
}

void ProcessMessages() {
  MSG message;
  std::vector<MSG> deferred;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    // A close request waits for the loop that is not inside a notification.
    if (message.message == DeferredCloseMessage() && InNotification()) {
      deferred.push_back(message);
      continue;
    }
    Dispatch(message);
  }
  for (const MSG& m : deferred) ::PostMessageW(m.hwnd, m.message, m.wParam, m.lParam);
}

// A question asked for the worker (CallOnMainThread) is inside its send as well.
bool InNotification() { return NotificationDepth > 0 || ::InSendMessage(); }

TNotificationScope::TNotificationScope() { ++NotificationDepth; }
TNotificationScope::~TNotificationScope() { --NotificationDepth; }

UINT DeferredCloseMessage() { return WM_APP + 0x100; }

void SetLinkHandler(std::function<void(const String&)> handler) { LinkHandler() = std::move(handler); }

void OpenLink(const String& url) {
  if (LinkHandler()) LinkHandler()(url);
}

}  // namespace Application

}  // namespace zel
