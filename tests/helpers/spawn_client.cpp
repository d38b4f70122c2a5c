// The elevated side of the spawn service, as a separate process for the tests:
// "spawn_client <server window> <command>" initialises the service as a client of
// that window and spawns the command ("" for an empty one). The window may also be
// given as "/SKIPUAC=<window>", the way the elevation relay passes it on.
#include <windows.h>
#include <shellapi.h>

#include "core/SpawnService.h"
#include "library/win/Handles.h"

int wmain() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc < 3) return 2;
  zel::String window = zel::from_wcstr(argv[1]);
  if (zel::StartsWithText(window, u"/SKIPUAC=")) window.erase(0, 9);
  try {
    kivo::TInstallerSpawnService::Initialize(kivo::TInstallerSpawnService::WindowFromText(window));
    if (kivo::TInstallerSpawnService::IsServer()) return 3;
    kivo::TInstallerSpawnService::Spawn(zel::from_wcstr(argv[2]));
  } catch (...) {
    return 4;
  }
  ::LocalFree(argv);
  return 0;
}
