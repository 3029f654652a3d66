// Adapter frames and the byte-at-a-time reader that finds them.
//
// The adapter sends fixed six-byte frames: a header letter that names the
// device ("K" keyboard, "M" mouse, "J" joystick), four payload bytes and a
// checksum that is the sum of the payload modulo 256. There is no length,
// no terminator and no escaping, so a header is recognised only where a
// frame may start. A lost byte costs two frames: the damaged frame is made
// whole with the next frame's first bytes and fails its checksum, and the
// search for a header begins again inside the rest of that next frame.
#pragma once

#include <array>
#include <cstdint>

inline constexpr std::size_t frame_size = 6;
using serial_frame = std::array<uint8_t, frame_size>;

enum class frame_kind : uint8_t { keyboard, mouse, joystick };
inline constexpr std::size_t frame_kind_count = 3;
static_assert(frame_kind_count == static_cast<std::size_t>(frame_kind::joystick) + 1,
	      "frame_kind_count must follow the last frame_kind");

inline constexpr uint8_t keyboard_header = 0x4B; // "K"
inline constexpr uint8_t mouse_header = 0x4D;    // "M"
inline constexpr uint8_t joystick_header = 0x4A; // "J"

// State machine of the reader.
//   waiting    (position 0): a header byte is stored and starts collecting;
//              any other byte is dropped.
//   collecting (position 1..5): every byte is stored, header values
//              included; the sixth byte completes the frame, the state
//              returns to waiting at once and the frame is then tested.
// A mouse header while the mouse is off is collected like any frame but
// marked foreign, so that the whole frame is dropped when it is complete
// and a mouse payload never reaches the keyboard or joystick handler.
struct frame_reader {
	serial_frame frame{};
	uint8_t position = 0;
	frame_kind kind = frame_kind::keyboard;
	bool foreign = false;
};

enum class frame_event : uint8_t {
	none,         // byte dropped, or stored in an incomplete frame
	good,         // a complete frame with a matching checksum
	bad_checksum, // a complete frame whose checksum does not match
	dropped,      // a complete mouse frame while the mouse is off
};

[[nodiscard]] uint8_t frame_checksum(const serial_frame &frame);

// A frame as the adapter builds it: header, payload, and the checksum over
// the payload. The daemon only checks frames; the simulator, the tests and
// the benchmarks build them here, so there is one frame layout.
[[nodiscard]] constexpr serial_frame make_frame(uint8_t header, uint8_t b1, uint8_t b2,
						uint8_t b3, uint8_t b4)
{
	return {header, b1, b2, b3, b4, static_cast<uint8_t>((b1 + b2 + b3 + b4) & 0xFF)};
}

// Feeds one byte; on frame_event::good the frame and its kind are in the
// reader until the next byte is fed.
[[nodiscard]] frame_event feed_frame_byte(frame_reader &reader, uint8_t byte,
					  bool mouse_accepted);
