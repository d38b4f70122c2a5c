#pragma once
// The installer's exception family. All descend from zel::Exception, so the start-up
// guard and the worker's guard catch them together with the library's errors.
#include "library/Exceptions.h"

namespace kivo {

class EInstallerGeneralError : public zel::Exception {
public:
  using zel::Exception::Exception;
};

class EInstallerBackupError : public EInstallerGeneralError {
public:
  using EInstallerGeneralError::EInstallerGeneralError;
};

class EInstallerInstallError : public EInstallerGeneralError {
public:
  using EInstallerGeneralError::EInstallerGeneralError;
};

class EInstallerUpdateError : public EInstallerInstallError {
public:
  using EInstallerInstallError::EInstallerInstallError;
};

// States that should not occur ("Cannot Start the Uninstaller", "Invalid Arguments").
class EInstallerMysteryError : public EInstallerGeneralError {
public:
  using EInstallerGeneralError::EInstallerGeneralError;
};

class EInstallerNoAdminRightsError : public EInstallerGeneralError {
public:
  EInstallerNoAdminRightsError()
      : EInstallerGeneralError(u"Administrator rights are required to process this operation.") {}
};

// The user quit before anything was changed (the language dialog closed): no message,
// the exit code of a cancelled run.
class EInstallerCancelled : public zel::Exception {
public:
  EInstallerCancelled() : zel::Exception(u"Cancelled by the user") {}
};

}  // namespace kivo
