// Mouse frames to touch events.
//
// The handheld knows no mouse, only its touch screen, so the daemon keeps an
// absolute pointer on the 480 x 640 screen, moves it by the PS/2 mouse's
// relative motion and reports it to the touch device as a touch at the
// panel point that the calibration maps onto the pointer, with the left
// button as the pressure. Outside console mode the cursor follows.
#pragma once

#include <cstdio>

#include "core/frame_reader.h"

extern FILE *touch_out; // null until start-up opens it (with -M)
extern int mouse_x;     // 0..639, the screen row
extern int mouse_y;     // 0..479, the screen column

struct touch_point {
	int x;
	int y;
};

// The panel point whose calibrated screen position is column mouse_column,
// row mouse_row. Without a usable calibration (no divisor, a result that is
// not finite or does not fit an int, also once rotated) it is the screen
// position itself.
[[nodiscard]] touch_point touch_of_position(int mouse_row, int mouse_column);

void handle_mouse_frame(const serial_frame &frame);
