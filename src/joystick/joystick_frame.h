// Joystick frames to key events.
//
// The adapter reports the state of up to 16 buttons in every joystick frame:
// byte 2 holds buttons 8-15, byte 3 buttons 0-7. Each button that changed
// since the previous joystick frame becomes one key press or release, with
// the key code that the key map's "J" lines give it.
#pragma once

#include <cstdint>

#include "serial/frame_reader.h"

struct joystick_state {
	uint32_t joystick_previous = 0; // button bits of the last joystick frame
};
extern joystick_state joystick_translation;

// No button down, as at start-up.
void reset_joystick_state();

void handle_joystick_frame(const serial_frame &frame);
