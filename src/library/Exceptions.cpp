#include "library/Exceptions.h"

#include "platform/Platform.h"

namespace zel {

namespace {

String OSErrorText(unsigned code, StringView extra) {
  // No code to explain it: what failed is all there is to say.
  if (code == 0)
    return extra.empty() ? String(u"A call to an OS function failed")
                         : u"A call to an OS function failed: " + String(extra);
  return Format(u"System Error.  Code: %d.\r\n%s%s", code, platform::SystemErrorMessage(code), extra);
}

}  // namespace

EOSError::EOSError(unsigned code, StringView extra) : Exception(OSErrorText(code, extra)), FErrorCode(code) {}

}  // namespace zel
