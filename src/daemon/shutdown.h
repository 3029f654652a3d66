// The clean-up that runs on every exit through exit(): the count of bad
// frames left out of the log reported, the console layout put back, the
// line closed, everything held on the handheld released, the
// output devices closed and the cursor taken off the screen.
#pragma once

// Runs once, from exit processing. Safe against a signal arriving meanwhile:
// the signal is only recorded (signals.h).
void cleanup_at_exit();
