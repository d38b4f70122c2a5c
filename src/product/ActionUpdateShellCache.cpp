#include "product/ActionUpdateShellCache.h"

#include <windows.h>
#include <shlobj.h>

#include "core/RunLog.h"

namespace kivo {

void TInstallerActionUpdateShellCache::Execute() {
  // SHCNF_FLUSH returns once the shell has handled the event.
  ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
  RunLog().Log(u"Shell told: file associations changed");
  ::Sleep(WaitMs);
}

}  // namespace kivo
