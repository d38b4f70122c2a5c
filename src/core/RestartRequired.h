#pragma once
// Whether the run left a file that only the next restart removes (a program or library in
// use, moved aside or scheduled). One per process, as the run is: the worker sets it, the
// entry point reads it once the worker has ended and answers 3010 instead of 0.

namespace kivo {

void SetRestartRequired();
bool RestartRequired();
// A new installer object starts without it.
void ClearRestartRequired();

}  // namespace kivo
