// The pointer's start-up and reset.
//
// Start-up reads the touch calibration and maps the framebuffer; neither can
// fail the daemon. The panel's size is in panel.h.
#pragma once

// Reads /etc/pointercal and maps /dev/fb0.
void setup_screen();

// Every piece of the pointer's process-wide state back to its start-up value:
// calibration, mapping, pointer position and cursor.
void reset_pointer_state();
