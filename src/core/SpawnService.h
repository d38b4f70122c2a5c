#pragma once
// Opening programs, files and web pages for the user without administrator rights.
//
// An unelevated process that restarts the setup elevated becomes the spawn server: a
// message-only window of its main thread. The elevated copy is a client: it sends
// each command to that window as WM_COPYDATA (identifier: the registered message
// "SpawnToken"; data: the command's UTF-16 characters, no terminating zero), and the
// server opens it in its own, unelevated, context.
#include <windows.h>

#include <functional>

#include "library/Strings.h"

namespace kivo {

class TInstallerSpawnService {
public:
  TInstallerSpawnService() = delete;

  // Window 0 makes this process its own server (a message-only window created on the
  // calling thread, which must be the main thread); another handle makes it a client
  // of that window. A second call raises "SpawnService is already initialized".
  static void Initialize(HWND window);
  // Destroys the server window and returns the service to its uninitialised state.
  static void Finalize() noexcept;

  // Opens Command (a file, program or URL without parameters) outside the elevated
  // process. A client whose server is gone silently does nothing.
  static void Spawn(zel::StringView command);

  static HWND TargetWindow() noexcept;
  static bool IsServer() noexcept;
  static UINT SpawnMessage() noexcept;

  // The value of the "SKIPUAC" switch as a window handle: a signed 32-bit decimal
  // number (window handles are 32-bit values sign-extended); anything else gives 0.
  static HWND WindowFromText(zel::StringView text) noexcept;
  // The inverse, for the relaunch command line.
  static zel::String WindowToText(HWND window);
};

// The shell's "open" verb, shown normally, result ignored. Under Wine a URL or
// "mailto:" goes straight to "winebrowser", the bridge to the host's browser.
void ShellOpen(zel::StringView file, zel::StringView parameters = {});

// Tests replace the actual opening with a recorder; null means really open.
using TShellOpenHook = std::function<void(zel::StringView file, zel::StringView parameters)>;
void SetShellOpenHook(TShellOpenHook hook);

// True when the program runs under Wine ("ntdll.dll" exports "wine_get_version").
bool IsRunningUnderWine() noexcept;
// True for "scheme:..." texts with a scheme of two or more letters (a drive letter is
// not a scheme) and for "mailto:".
bool IsUrl(zel::StringView command) noexcept;

}  // namespace kivo
