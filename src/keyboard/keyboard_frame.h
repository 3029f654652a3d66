// Keyboard frames to key events.
//
// The adapter passes the PS/2 keyboard's scan code set 2 bytes through
// unchanged: 0xF0 announces a release, 0xE0 an extended key, and 0xE1
// starts the Pause key's eight-byte sequence, which the adapter splits over
// four frames. This file tracks the modifier keys, looks the key up under
// the current modifier combination and drives the NumLock and Caps lights.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "serial/frame_reader.h"

// The set-2 prefix bytes named above, for the translation here and for the
// simulator that plays a keyboard.
inline constexpr uint8_t release_prefix = 0xF0;
inline constexpr uint8_t extended_prefix = 0xE0;
inline constexpr uint8_t pause_prefix = 0xE1;

struct keyboard_frame_state {
	int32_t skip_frames = 0; // keyboard frames still to ignore (Pause)
	unsigned led_state = 0;  // lock lights as last sent: 0x02 NumLock, 0x04 Caps
};
extern keyboard_frame_state keyboard_translation;


// No Pause tail pending and the lights off, as at start-up.
void reset_keyboard_frame_state();

// A keyboard that went away: no Pause tail pending and no modifier held.
// The lights are kept: they are sent again when it is back.
void forget_keyboard_state();

inline constexpr unsigned led_num_lock = 0x02;
inline constexpr unsigned led_caps_lock = 0x04;

// The key map names whose press switches a lock light (without -u), and
// the lights as people call them.
inline constexpr char num_lock_key_name[] = "NumLock";
inline constexpr char caps_lock_key_name[] = "Caps";
struct lock_key {
	const char *name;       // the key map's name of the key
	unsigned light;         // its light's bit
	const char *light_name; // the light
};
inline constexpr std::array<lock_key, 2> lock_keys = {{
	{num_lock_key_name, led_num_lock, num_lock_key_name},
	{caps_lock_key_name, led_caps_lock, "Caps Lock"},
}};

// The combination (shift 1, ctrl 2, alt 4, cmd 8) of a modifier state whose
// low nibble holds the left-hand keys and high nibble the right-hand keys.
[[nodiscard]] unsigned fold_modifiers(unsigned state);

// What a keyboard frame's payload says by itself, before the modifier keys
// and the key map are consulted. The Pause key is looked up as E0 80.
struct keyboard_stroke {
	bool usable;              // false: a count byte above 4, the frame is ignored
	bool pause;               // the first frame of the Pause sequence
	unsigned code;            // the scan code
	int down;                 // 1 press, 0 release
	std::size_t prefix_index; // 0 plain, 1 after 0xE0 (and Pause)
};
[[nodiscard]] keyboard_stroke read_keyboard_stroke(const serial_frame &frame);

void handle_keyboard_frame(const serial_frame &frame);
