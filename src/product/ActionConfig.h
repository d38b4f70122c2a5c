#pragma once
// Writes the installed product's "KIVO.ini": how it was installed (per-user or portable),
// the language it starts with, the installed version and the integration choices.
#include <cstdint>
#include <vector>

#include "core/InstallerAction.h"

namespace kivo {

class TInstallerActionConfig : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionConfig)
public:
  void Execute() override;
  // The file as it was before (or none, when there was none).
  void Rollback() noexcept override;

private:
  bool FWritten = false;
  bool FExisted = false;
  bool FUnreadable = false;        // it was there but could not be read: never restored
  std::vector<uint8_t> FPrevious;  // the earlier bytes, when there was a file
};

}  // namespace kivo
