// Ctrl-C and SIGTERM for the commands that convert: the first signal asks the command to
// stop cleanly (its main thread polls StopSignal()); a second one of the same kind ends
// the program at once, as the default action would.
#pragma once

namespace tovi::cli {

// Catches SIGINT and SIGTERM from now on and clears any earlier signal.
void CatchStopSignals();
// Back to the default actions (a signal that came in stays readable).
void ReleaseStopSignals();
// The signal that asked to stop, 0 while none came.
int StopSignal();

} // namespace tovi::cli
