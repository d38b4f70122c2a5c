#include "core/RunFolder.h"

#include <windows.h>

#include "library/win/OSError.h"

namespace kivo {

void WriteAndFlush(void* file, const std::string& text, const zel::String& path) {
  zel::WriteAllOrRaise(file, text.data(), static_cast<DWORD>(text.size()), u"WriteFile \"" + path + u"\"");
  if (!::FlushFileBuffers(file)) zel::RaiseLastOSError(u"FlushFileBuffers \"" + path + u"\"");
}

}  // namespace kivo
