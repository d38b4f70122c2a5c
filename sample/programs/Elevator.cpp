// Stand-in for the product's registration program. The setup only starts it with
// switches such as /REG=L1 or /REG=U and waits for it; this one records each
// command line, exactly as it arrived (the program path with its quotes, then the
// switches), in Elevator.log beside itself, so tests see exactly what was asked.
#include "CommandLineLog.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
  kivo_sample::LogRawCommandLine(L"Elevator.log");
  return 0;
}
