// Stand-in for the optional add-on installer that the setup package carries. The
// setup opens it from the temporary folder without waiting; this one records its
// parameters in AddonSetup.log beside itself.
#include "CommandLineLog.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
  kivo_sample::LogOwnCommandLine(L"AddonSetup.log");
  return 0;
}
