// The screen the pointer works on, and its start-up.
//
// The handheld's panel is 480 columns by 640 rows of 16-bit pixels, held
// sideways: the pointer's mouse_x runs along the rows and mouse_y along the
// columns. Start-up reads the touch calibration and maps the framebuffer;
// neither can fail the daemon.
#pragma once

inline constexpr int screen_columns = 480;
inline constexpr int screen_rows = 640;

// Reads /etc/pointercal and maps /dev/fb0.
void setup_screen();

// Every piece of the pointer's process-wide state back to its start-up value:
// calibration, mapping, pointer position and cursor.
void reset_pointer_state();
