// What the adapter sends for a keyboard, a mouse and a joystick: PS/2 scan
// code set 2 for a US keyboard, wrapped in the adapter's six-byte frames.
//
// A script says "type Hello" or "tap numlock"; the simulator needs the scan
// codes a real keyboard would send (make code, 0xF0 before a break code,
// 0xE0 before the extended keys, the odd 0xE1 sequence of Pause) and the
// frames the adapter would build around them. The character table and the
// key-name table here are the only places that know which key sends which
// code; the frame layouts (serial/frame_payload.h) and the prefix bytes are
// the daemon's own.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "keyboard/keyboard_frame.h"
#include "serial/frame_payload.h"

// A key of the keyboard: its set-2 code, after 0xE0 when extended. Pause is
// a key of its own kind: it sends one fixed sequence when pressed and
// nothing when released.
struct set2_key {
	uint8_t code = 0;
	bool extended = false;
	bool pause = false;
};

// How to type one character: the key, and whether shift must be held.
struct char_stroke {
	set2_key key;
	bool shifted = false;
	bool typeable = false;
};

[[nodiscard]] char_stroke stroke_of(char c);

// Keys by the names a script uses ("lshift", "numlock", "left", "f5"...);
// nullptr for an unknown name.
[[nodiscard]] const set2_key *key_named(std::string_view name);

// The script name of a key, or "" when the table has none.
[[nodiscard]] std::string_view name_of(const set2_key &key);

// The key names, for the usage text.
[[nodiscard]] std::span<const std::string_view> key_names();

// The frames of one press or release: at most four, Pause's.
inline constexpr std::size_t key_frame_limit = 4;
struct key_frames {
	std::array<serial_frame, key_frame_limit> frames{};
	std::size_t count = 0;
};

// The frames of a press and of a release of a key; Pause gives four frames
// when pressed (the adapter splits its eight bytes) and none when released.
[[nodiscard]] key_frames press_frames(const set2_key &key);
[[nodiscard]] key_frames release_frames(const set2_key &key);

// The frames as a list to walk.
[[nodiscard]] inline std::span<const serial_frame> frames_of(const key_frames &frames)
{
	return std::span<const serial_frame>(frames.frames.data(), frames.count);
}
