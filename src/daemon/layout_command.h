// The kernel keyboard layout commands of console mode.
//
// In console mode the daemon switches the kernel's keyboard layout with the
// platform's "loadkmap" at start-up and back at exit. The command runs
// through /bin/sh -c and the daemon waits for it to end. Unlike system(),
// nothing is ignored meanwhile: a stop signal that arrives while the command
// runs is recorded like any other and acted on once the command has ended.
#pragma once

// Runs the command line and waits for it to its end, waiting again when a
// signal interrupts the wait. Its result is not acted on.
void run_layout_command(const char *command);
