// Setup.exe's entry point: wires the KIVO product and the wizard into the generic setup.
#include <windows.h>

#include "setup/Setup.h"
#include "product/ProductInfoKIVO.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // First of all: no DLL is to be loaded from our own folder (often Downloads).
  kivo::RestrictDllSearch();
  kivo::RegisterProductKIVO();
  return kivo::RunSetup();
}
