#include "core/StackTrace.h"

#include <windows.h>
#include <dbghelp.h>

#include <mutex>

#include "library/win/Handles.h"

namespace kivo {

using zel::String;

namespace {

constexpr ULONG MaxFrames = 62;  // RtlCaptureStackBackTrace's limit on older systems

// The debug help library is single-threaded: one lock, one initialisation per process.
std::mutex GSymbolLock;

bool SymbolsReady() {
  static const bool ready = [] {
    ::SymSetOptions(::SymGetOptions() | SYMOPT_DEFERRED_LOADS | SYMOPT_UNDNAME | SYMOPT_FAIL_CRITICAL_ERRORS);
    return ::SymInitializeW(::GetCurrentProcess(), nullptr, TRUE) != FALSE;
  }();
  return ready;
}

String SymbolText(DWORD64 address) {
  std::lock_guard<std::mutex> lock(GSymbolLock);
  if (!SymbolsReady()) return {};
  alignas(SYMBOL_INFOW) unsigned char buffer[sizeof(SYMBOL_INFOW) + 256 * sizeof(wchar_t)];
  auto* symbol = reinterpret_cast<SYMBOL_INFOW*>(buffer);
  symbol->SizeOfStruct = sizeof(SYMBOL_INFOW);
  symbol->MaxNameLen = 256;
  DWORD64 displacement = 0;
  if (!::SymFromAddrW(::GetCurrentProcess(), address, &displacement, symbol)) return {};
  return zel::Format(u" %s+0x%x", zel::from_wcstr(symbol->Name, symbol->NameLen), displacement);
}

String FrameText(void* address) {
  const auto value = reinterpret_cast<uintptr_t>(address);
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
    return zel::Format(u"0x%x", static_cast<unsigned long long>(value));
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(module, path, MAX_PATH);
  const String name = n ? zel::ExtractFileName(zel::from_wcstr(path, n)) : String(u"?");
  return zel::Format(u"%s+0x%x", name, static_cast<unsigned long long>(value - reinterpret_cast<uintptr_t>(module))) +
         SymbolText(value - 1);  // a return address: the call lies just before it
}

}  // namespace

String CaptureStackText(int skipFrames) {
  void* frames[MaxFrames];
  // One more frame to skip: our own.
  const ULONG skip = static_cast<ULONG>(skipFrames < 0 ? 0 : skipFrames) + 1;
  const USHORT count = ::RtlCaptureStackBackTrace(skip, MaxFrames, frames, nullptr);
  String text;
  for (USHORT i = 0; i < count; ++i) {
    if (i) text += u"\r\n";
    text += FrameText(frames[i]);
  }
  return text;
}

}  // namespace kivo
