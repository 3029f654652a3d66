// What the four payload bytes of each frame kind mean, and the adapter
// commands that go the other way, built and read in one place.
//
// The daemon reads these layouts; the simulator, the trace tool, the tests,
// the soak and the benchmarks build and read them here too, so that a
// payload layout is written down once. Bytes are named by their index in
// the six-byte frame (0 the header, 1..4 the payload, 5 the checksum).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "serial/frame_reader.h"

// Keyboard: byte 1 counts the scan-code bytes that follow from byte 2 on
// (the adapter sends one to three, zeros after them). A count above 4
// would point past the frame; up to 4 it may reach the checksum byte, and
// the daemon reads what it points at.
inline constexpr std::size_t keyboard_count_byte = 1;
inline constexpr std::size_t keyboard_codes_byte = 2;
inline constexpr std::size_t keyboard_codes_sent = 3;
inline constexpr uint8_t keyboard_largest_count = 4;

[[nodiscard]] constexpr serial_frame make_keyboard_frame(std::span<const uint8_t> codes)
{
	std::array<uint8_t, keyboard_codes_sent> payload{};
	const std::size_t count = std::min(codes.size(), payload.size());
	std::copy_n(codes.begin(), count, payload.begin());
	return make_frame(keyboard_header, static_cast<uint8_t>(count), payload[0], payload[1],
			  payload[2]);
}

[[nodiscard]] constexpr uint8_t keyboard_count_of(const serial_frame &frame)
{
	return frame[keyboard_count_byte];
}

// The scan-code bytes the count names; none when the count points past the
// frame.
[[nodiscard]] constexpr std::span<const uint8_t> keyboard_codes_of(const serial_frame &frame)
{
	const uint8_t count = keyboard_count_of(frame);
	if (count > keyboard_largest_count)
		return {};
	return std::span<const uint8_t>(frame.data() + keyboard_codes_byte, count);
}

// Mouse: byte 1 is unused (0), byte 2 the PS/2 mouse's status byte (bits
// 0-2 the left, right and middle buttons, bits 4 and 5 the ninth, sign bits
// of the X and Y movements), bytes 3 and 4 the low bytes of the X and Y
// movements. Positive X is to the right, positive Y up.
inline constexpr std::size_t mouse_status_byte = 2;
inline constexpr std::size_t mouse_x_byte = 3;
inline constexpr std::size_t mouse_y_byte = 4;
inline constexpr unsigned mouse_left_button = 0x01;
inline constexpr unsigned mouse_button_bits = 0x07; // left, right, middle
inline constexpr unsigned mouse_x_sign = 0x10;
inline constexpr unsigned mouse_y_sign = 0x20;

// A mouse frame of the status and movement bytes as given, sign bits and
// all: for frames whose bytes matter more than their meaning.
[[nodiscard]] constexpr serial_frame make_mouse_frame_bytes(uint8_t status, uint8_t x_low,
							    uint8_t y_low)
{
	return make_frame(mouse_header, 0, status, x_low, y_low);
}

// A mouse frame for a movement of -256..255 on each axis with the buttons
// (bits as in the status byte) held.
[[nodiscard]] constexpr serial_frame make_mouse_frame(int dx, int dy, unsigned buttons)
{
	unsigned status = buttons & mouse_button_bits;
	if (dx < 0)
		status |= mouse_x_sign;
	if (dy < 0)
		status |= mouse_y_sign;
	return make_mouse_frame_bytes(static_cast<uint8_t>(status), static_cast<uint8_t>(dx & 0xFF),
				      static_cast<uint8_t>(dy & 0xFF));
}

struct mouse_motion {
	int dx;           // -256..255, right positive
	int dy;           // -256..255, up positive
	unsigned buttons; // bits as in the status byte: left, right, middle
};

[[nodiscard]] constexpr mouse_motion mouse_motion_of(const serial_frame &frame)
{
	const unsigned status = frame[mouse_status_byte];
	return {frame[mouse_x_byte] - ((status & mouse_x_sign) ? 256 : 0),
		frame[mouse_y_byte] - ((status & mouse_y_sign) ? 256 : 0), status & mouse_button_bits};
}

// Joystick: bytes 2 and 3 hold buttons 8-15 and 0-7; bytes 1 and 4 are 0.
inline constexpr std::size_t joystick_high_byte = 2;
inline constexpr std::size_t joystick_low_byte = 3;

[[nodiscard]] constexpr serial_frame make_joystick_frame(uint16_t buttons)
{
	return make_frame(joystick_header, 0, static_cast<uint8_t>(buttons >> 8),
			  static_cast<uint8_t>(buttons & 0xFF), 0);
}

// Bit i is button i.
[[nodiscard]] constexpr uint32_t joystick_buttons_of(const serial_frame &frame)
{
	return static_cast<uint32_t>(frame[joystick_high_byte]) << 8 | frame[joystick_low_byte];
}

// Commands to the adapter. "e" turns the mouse on. "k" passes the next
// bytes to the keyboard: 0xED, the keyboard's Set LEDs command, then the
// light bits (0x01 Scroll, 0x02 NumLock, 0x04 Caps).
inline constexpr uint8_t mouse_enable_command = 'e';
inline constexpr uint8_t keyboard_command = 'k';
inline constexpr uint8_t set_leds_command = 0xED;
inline constexpr std::size_t light_command_size = 3;
using light_command = std::array<uint8_t, light_command_size>;

[[nodiscard]] constexpr light_command make_light_command(unsigned led_bits)
{
	return {keyboard_command, set_leds_command, static_cast<uint8_t>(led_bits & 0xFF)};
}

// How far bytes read back from the line agree with a light command: the
// number of leading bytes that do (the light byte always does).
[[nodiscard]] constexpr std::size_t light_command_match(std::span<const uint8_t> bytes)
{
	const light_command head = make_light_command(0);
	std::size_t matched = 0;
	while (matched < bytes.size() && matched < light_command_size &&
	       (matched == light_command_size - 1 || bytes[matched] == head[matched]))
		++matched;
	return matched;
}

[[nodiscard]] constexpr unsigned light_bits_of(const light_command &command)
{
	return command[light_command_size - 1];
}
