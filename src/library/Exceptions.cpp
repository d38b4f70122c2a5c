#include "library/Exceptions.h"

#include "platform/Platform.h"

namespace zel {

EOSError::EOSError(unsigned code, StringView extra)
    : Exception(Format(u"System Error.  Code: %d.\r\n%s%s", code, platform::SystemErrorMessage(code),
                       extra)),
      FErrorCode(code) {}

}  // namespace zel
