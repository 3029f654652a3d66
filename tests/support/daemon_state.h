// The daemon's whole process-wide state back to its start-up values.
//
// Every test that runs the daemon's code in-process starts from here, so no
// case sees what an earlier one left behind. Each subsystem keeps the reset
// of its state next to the state's definition; this is the one list of them.
#pragma once

void reset_daemon_state();
