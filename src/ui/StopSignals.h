#pragma once

namespace meridane {

// For the console programs. Ctrl-C, SIGTERM and SIGHUP press Stop: the run
// saves what it has (a task) or leaves nothing half-written (a combine) and the
// program ends. A second Ctrl-C or SIGTERM ends the program at once; a closed
// terminal may hang up more than once, so SIGHUP never does. SIGPIPE is
// ignored: a closed standard output stops the lines on it, not the run.
void InstallStopSignals();

// The first stop signal that came, 0 before any: a command's run stops on it,
// and its exit status is 128 + it, as the shell reports a program the signal ended.
int FirstStopSignal();

}  // namespace meridane
