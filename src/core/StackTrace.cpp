#include "core/StackTrace.h"

#include <windows.h>

#include "library/Exceptions.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"

namespace kivo {

using zel::String;

namespace {

constexpr ULONG MaxFrames = 62;  // RtlCaptureStackBackTrace's limit on older systems

// No symbol names: the debug help library cannot read the DWARF 5 data that the
// compiler writes (under Wine it names only system exports) and takes about a second to
// initialise. An offset within a module is resolved offline, with addr2line against the
// unstripped build.
String FrameText(void* address) {
  const auto value = reinterpret_cast<uintptr_t>(address);
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module) ||
      value < reinterpret_cast<uintptr_t>(module))
    return zel::Format(u"0x%x", static_cast<unsigned long long>(value));
  String name = u"?";
  try {
    name = zel::ExtractFileName(zel::ModuleFileName(module));
  } catch (const zel::Exception&) {}
  return zel::Format(u"%s+0x%x", name, static_cast<unsigned long long>(value - reinterpret_cast<uintptr_t>(module)));
}

}  // namespace

String CaptureStackText(int skipFrames) {
  void* frames[MaxFrames];
  // One more frame to skip: our own.
  const ULONG skip = static_cast<ULONG>(skipFrames < 0 ? 0 : skipFrames) + 1;
  const USHORT count = ::RtlCaptureStackBackTrace(skip, MaxFrames, frames, nullptr);
  String text;
  for (USHORT i = 0; i < count; ++i) {
    // Wine's walk goes on past the thread's start: a null return address ends the stack.
    if (!frames[i]) break;
    if (i) text += u"\r\n";
    text += FrameText(frames[i]);
  }
  return text;
}

}  // namespace kivo
