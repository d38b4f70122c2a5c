// Stand-in for the product's registration program. The setup only starts it with
// switches such as /REG=L1 or /REG=U and waits for it; this one records each
// command line in Elevator.log beside itself, so tests see exactly what was asked.
#include "CommandLineLog.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
  kivo_sample::LogOwnCommandLine(L"Elevator.log");
  return 0;
}
