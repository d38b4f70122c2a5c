#pragma once
// The toolkit's application object: initialises the system libraries the controls
// need, runs the message loop of the main form, and processes pending messages on
// request (to keep windows painting while a long notification runs).
#include <windows.h>

#include <functional>

#include "library/Strings.h"

namespace zel {

class TZELForm;

namespace Application {

// Common controls, COM (rich edit, folder browser), GDI+, the rich-edit library.
void Initialize();
// Runs until the main form's window is destroyed.
void Run(TZELForm& mainForm);
// Dispatches the messages that are waiting, without blocking.
void ProcessMessages();
// Counts nested notifications from other threads: a form does not close inside one.
bool InNotification();
class TNotificationScope {
public:
  TNotificationScope();
  ~TNotificationScope();
  TNotificationScope(const TNotificationScope&) = delete;
  TNotificationScope& operator=(const TNotificationScope&) = delete;
};
// The message a form posts to itself to close once the current notification is over.
UINT DeferredCloseMessage();
// How links (rich text, link labels) are opened; the shell by default.
void SetLinkHandler(std::function<void(const String& url)> handler);
void OpenLink(const String& url);

}  // namespace Application

}  // namespace zel
