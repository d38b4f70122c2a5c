#include "library/win/OSError.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace zel {
namespace {

TEST(OSErrorTest, LastErrorBecomesTheMessage) {
  struct TCase {
    DWORD LastError;
    const char16_t* Extra;
    const char16_t* Start;
    const char16_t* End;
  };
  const TCase cases[] = {
      {ERROR_ACCESS_DENIED, u"C:\\a -> C:\\b", u"System Error.  Code: 5.\r\n", u"C:\\a -> C:\\b"},
      {ERROR_FILE_NOT_FOUND, u"", u"System Error.  Code: 2.\r\n", u""},
      // Without a code, what failed is still named.
      {0, u"WriteFile \"C:\\a\"", u"A call to an OS function failed: ", u"WriteFile \"C:\\a\""},
      {0, u"", u"A call to an OS function failed", u"A call to an OS function failed"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.LastError);
    ::SetLastError(c.LastError);
    try {
      RaiseLastOSError(c.Extra);
    } catch (const EOSError& e) {
      EXPECT_EQ(c.LastError, e.ErrorCode());
      EXPECT_TRUE(StartsWith(e.Message(), c.Start)) << e.what();
      EXPECT_TRUE(EndsWithText(e.Message(), c.End)) << e.what();
      // The platform's own text sits between the code and the extra text.
      if (c.LastError) {
        EXPECT_GT(e.Message().size(), String(c.Start).size() + String(c.End).size()) << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace zel
