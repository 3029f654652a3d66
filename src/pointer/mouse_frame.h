// Mouse frames to touch events.
//
// The handheld knows no mouse, only its touch screen, so the daemon keeps an
// absolute pointer on the 480 x 640 screen, moves it by the PS/2 mouse's
// relative motion and reports it to the touch device as a touch at the
// panel point that the calibration maps onto the pointer, with the left
// button as the pressure. Outside console mode the cursor follows.
#pragma once

#include "serial/frame_reader.h"

// The pointer's place. Held sideways, the mouse's X motion runs down the
// panel's rows, so mouse_x is the row (0..639) and mouse_y the column
// (0..479).
struct pointer_state {
	int mouse_x = 0;         // the screen row, 0..639
	int mouse_y = 0;         // the screen column, 0..479
	bool touch_down = false; // the last touch line had the button down
};
extern pointer_state pointer;


// The pointer back in the corner, its button up, as at start-up.
void reset_mouse_position();

// The mouse's buttons let go where the pointer is: a touch that is down is
// lifted (an input device's buttons are released). For a mouse that went
// away with a button held.
void lift_pointer();

void handle_mouse_frame(const serial_frame &frame);
