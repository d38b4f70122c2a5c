#include "core/SpawnService.h"

#include <shellapi.h>
#include <versionhelpers.h>

#include <mutex>

#include "library/Exceptions.h"
#include "library/win/Handles.h"
#include "library/win/OSError.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

namespace {

const wchar_t ServerClassName[] = L"TInstallerSpawnService";
const wchar_t SpawnTokenName[] = L"SpawnToken";

// Process-wide state of the service; it lives on the main thread only.
HWND GTargetWindow = nullptr;
bool GIsServer = false;
UINT GSpawnMessage = 0;

std::mutex GHookLock;
TShellOpenHook GOpenHook;

void OpenNow(const String& file, const String& parameters) noexcept {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = as_wcstr(file);
  info.lpParameters = parameters.empty() ? nullptr : as_wcstr(parameters);
  info.nShow = SW_SHOWNORMAL;
  // The result is ignored on purpose: a command that does not open is not the run's failure.
  ::ShellExecuteExW(&info);
}

// explorer.exe takes the rest of its command line as one target only when quoted.
String QuoteIfSpaced(StringView text) {
  if (text.find(u' ') == StringView::npos || (!text.empty() && text.front() == u'"')) return String(text);
  return u"\"" + String(text) + u"\"";
}

// Opens a command here, but outside our own rights where the platform allows it.
void OpenUnelevated(StringView command) {
  // Under Wine "explorer.exe <file>" does not start programs (and leaves an explorer
  // process behind); there is no elevation to shed anyway.
  if (::IsWindowsVistaOrGreater() && !IsRunningUnderWine()) ShellOpen(u"explorer.exe", QuoteIfSpaced(command));
  else ShellOpen(command);
}

// How long a spawn request waits for the server to open its command.
constexpr UINT kSpawnTimeoutMs = 30000;
// The longest command a request may carry, in UTF-16 code units (the longest path).
constexpr DWORD kMaxCommandLength = 32767;

// A request is UTF-16 text of whole code units, not empty, of a sane length; anything
// else on the desktop that sends us copy-data is ignored.
bool IsSpawnRequest(const COPYDATASTRUCT* data) {
  return data && data->dwData == GSpawnMessage && data->lpData && data->cbData >= 2 && data->cbData % 2 == 0 &&
         data->cbData <= kMaxCommandLength * 2;
}

LRESULT CALLBACK ServerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (IsSpawnRequest(data)) {
      try {
        const String command(static_cast<const char16_t*>(data->lpData), data->cbData / 2);
        if (!zel::Trim(command).empty()) ShellOpen(command);
      } catch (...) {
        // A request that cannot be served is dropped: the client ignores the answer anyway.
      }
    }
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

void RegisterServerClass() {
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof(cls);
  cls.lpfnWndProc = ServerWindowProc;
  cls.hInstance = ::GetModuleHandleW(nullptr);
  cls.lpszClassName = ServerClassName;
  if (!::RegisterClassExW(&cls) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    zel::RaiseLastOSError(u"RegisterClassEx (the spawn service's window)");
}

}  // namespace

void TInstallerSpawnService::Initialize(HWND window) {
  if (GTargetWindow) throw zel::Exception(u"SpawnService is already initialized");
  if (window) {
    GTargetWindow = window;
    GIsServer = false;
  } else {
    RegisterServerClass();
    HWND server = ::CreateWindowExW(0, ServerClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    if (!server) zel::RaiseLastOSError(u"CreateWindowEx (the spawn service's window)");
    GTargetWindow = server;
    GIsServer = true;
  }
  GSpawnMessage = ::RegisterWindowMessageW(SpawnTokenName);
}

void TInstallerSpawnService::Finalize() noexcept {
  if (GIsServer && GTargetWindow) ::DestroyWindow(GTargetWindow);
  GTargetWindow = nullptr;
  GIsServer = false;
}

void TInstallerSpawnService::Spawn(StringView command) {
  if (!GTargetWindow || GIsServer) {
    OpenUnelevated(command);
    return;
  }
  COPYDATASTRUCT data{};
  data.dwData = GSpawnMessage;
  data.cbData = static_cast<DWORD>(command.size() * sizeof(char16_t));
  data.lpData = const_cast<char16_t*>(command.data());
  if (command.empty() || command.size() > kMaxCommandLength) return;
  // A server that has ended makes the send fail, one that no longer answers makes it
  // time out: both are ignored, as is the answer, and neither may hang this process.
  DWORD_PTR answer = 0;
  ::SendMessageTimeoutW(GTargetWindow, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL | SMTO_ABORTIFHUNG,
                        kSpawnTimeoutMs, &answer);
}

HWND TInstallerSpawnService::TargetWindow() noexcept { return GTargetWindow; }
bool TInstallerSpawnService::IsServer() noexcept { return GIsServer; }
UINT TInstallerSpawnService::SpawnMessage() noexcept { return GSpawnMessage; }

HWND TInstallerSpawnService::WindowFromText(StringView text) noexcept {
  int32_t value = 0;
  try {
    if (!zel::TryStrToInt(text, value)) return nullptr;
  } catch (...) {
    return nullptr;
  }
  return reinterpret_cast<HWND>(static_cast<intptr_t>(value));
}

String TInstallerSpawnService::WindowToText(HWND window) {
  return zel::IntToStr(static_cast<int32_t>(reinterpret_cast<intptr_t>(window)));
}

void ShellOpen(StringView file, StringView parameters) {
  String target(file);
  String params(parameters);
  if (IsRunningUnderWine() && params.empty() && IsUrl(target)) {
    params = std::move(target);
    target = u"winebrowser";
  }
  TShellOpenHook hook;
  {
    std::lock_guard<std::mutex> lock(GHookLock);
    hook = GOpenHook;
  }
  if (hook) hook(target, params);
  else OpenNow(target, params);
}

void SetShellOpenHook(TShellOpenHook hook) {
  std::lock_guard<std::mutex> lock(GHookLock);
  GOpenHook = std::move(hook);
}

bool IsRunningUnderWine() noexcept {
  static const bool underWine = [] {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return underWine;
}

bool IsUrl(StringView command) noexcept {
  // "mailto:" has a scheme of its own, so the scheme test below covers it too.
  const size_t colon = command.find(u':');
  if (colon == StringView::npos || colon < 2) return false;
  auto isAlpha = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
  if (!isAlpha(command[0])) return false;
  for (size_t i = 1; i < colon; ++i) {
    const char16_t c = command[i];
    if (!isAlpha(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.') return false;
  }
  return true;
}

}  // namespace kivo
