#pragma once
// The program's exception family. Code that catches "the base exception class"
// catches Exception only; std::bad_alloc and friends are not part of it.
#include <exception>
#include <string>

#include "library/Strings.h"

namespace zel {

class Exception : public std::exception {
public:
  explicit Exception(String message) : FMessage(std::move(message)), FUtf8(ToUtf8(FMessage)) {}
  const String& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FUtf8.c_str(); }

private:
  String FMessage;
  std::string FUtf8;
};

// Stream failures: "Stream read error", "Stream write error" and file creation/opening.
class EStreamError : public Exception {
public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
public:
  EReadError() : EStreamError(u"Stream read error") {}
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
  EWriteError() : EStreamError(u"Stream write error") {}
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
  using EStreamError::EStreamError;
};

class EInvalidOperation : public Exception {
public:
  using Exception::Exception;
};

class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// An operating-system failure: "System Error.  Code: %d.\r\n%s%s"; with code 0 (a call that
// failed without one) "A call to an OS function failed: " and the extra text.
class EOSError : public Exception {
public:
  EOSError(unsigned code, StringView extra = {});
  // A failed call that left no error code behind: "A call to an OS function failed".
  EOSError() : Exception(u"A call to an OS function failed"), FErrorCode(0) {}
  unsigned ErrorCode() const noexcept { return FErrorCode; }

private:
  unsigned FErrorCode;
};

}  // namespace zel
