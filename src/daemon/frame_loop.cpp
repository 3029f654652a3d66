// The frame loop: one byte at a time from the serial line into the frame
// reader, and every good frame to exactly one handler. Handlers run to
// completion before the next byte is read, so a frame's key events, touch
// line, cursor move and light commands are all out before the next frame.
#include "daemon/frame_loop.h"

#include <array>
#include <cstdio>

#include "core/settings.h"
#include "daemon/shutdown.h"
#include "joystick/joystick_frame.h"
#include "keyboard/keyboard_frame.h"
#include "output/output_form.h"
#include "pointer/mouse_frame.h"
#include "serial/serial_line.h"

namespace {

using frame_handler = void (*)(const serial_frame &);

// Indexed by frame_kind.
constexpr std::array<frame_handler, frame_kind_count> frame_handlers = {
	handle_keyboard_frame,
	handle_mouse_frame,
	handle_joystick_frame,
};
static_assert(static_cast<std::size_t>(frame_kind::keyboard) == 0);
static_assert(static_cast<std::size_t>(frame_kind::mouse) == 1);
static_assert(static_cast<std::size_t>(frame_kind::joystick) == 2);

frame_reader reader;

} // namespace

void dispatch_frame(frame_kind kind, const serial_frame &frame)
{
	frame_handlers[static_cast<std::size_t>(kind)](frame);
}

void reset_frame_loop()
{
	reader = frame_reader{};
}

frame_event handle_serial_byte(uint8_t byte)
{
	frame_event event = feed_frame_byte(reader, byte, mouse_enabled);
	switch (event) {
	case frame_event::good:
		dispatch_frame(reader.kind, reader.frame);
		break;
	case frame_event::bad_checksum:
		fputs(checksum_error_message, stdout);
		// Whoever reads the daemon's output (a log pipe, a file) sees the
		// report when it happens, not at exit.
		(void)fflush(stdout);
		break;
	case frame_event::none:
	case frame_event::dropped:
		break;
	}
	return event;
}

void carry_system_lights()
{
	if (output->take_lights && output->take_lights(led_state))
		send_led_command(led_state);
}

void frame_loop()
{
	for (;;) {
		int byte = read_serial_byte();
		frame_event event = frame_event::none;
		if (byte >= 0)
			event = handle_serial_byte(static_cast<uint8_t>(byte));
		// Lights are looked at between frames and whenever the line falls
		// idle, so a light set on a quiet line is out within 0.1 s.
		if (byte < 0 || event != frame_event::none)
			carry_system_lights();
		act_on_pending_stop();
	}
}
