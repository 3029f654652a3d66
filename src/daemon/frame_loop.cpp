// The frame loop: one byte at a time from the serial line into the frame
// reader, and every good frame to exactly one handler. Handlers run to
// completion before the next byte is read, so a frame's key events, touch
// line, cursor move and light commands are all out before the next frame.
#include "daemon/frame_loop.h"

#include <array>
#include <cstdio>

#include "core/message_log.h"
#include "core/monotonic_clock.h"
#include "core/settings.h"
#include "daemon/signals.h"
#include "joystick/joystick_frame.h"
#include "keyboard/keyboard_frame.h"
#include "output/output_form.h"
#include "pointer/mouse_frame.h"
#include "serial/frame_observer.h"
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

// In the system log and the journal, bad frames are reported at most once
// a second. Those left out meanwhile are counted: the count goes out with
// the next bad frame, or on its own at the first idle read after the
// second is over, or at exit. The clock is read only for a bad frame (an
// idle read brings its own time), never for a good byte.
constexpr int64_t checksum_report_interval_ns = 1'000'000'000;

struct frame_loop_state {
	frame_reader reader;
	int64_t last_checksum_report_ns = 0; // 0: none yet
	unsigned checksum_reports_left_out = 0;
};
frame_loop_state loop_state;

bool checksum_report_due(int64_t now_ns)
{
	return loop_state.last_checksum_report_ns == 0 ||
	       now_ns - loop_state.last_checksum_report_ns >= checksum_report_interval_ns;
}

void report_bad_checksum()
{
	if (!messages_to_syslog && !messages_to_journal) {
		print_message(LOG_WARNING, "%s", checksum_error_message);
		return;
	}
	int64_t now_ns = monotonic_ns();
	if (!checksum_report_due(now_ns)) {
		++loop_state.checksum_reports_left_out;
		return;
	}
	if (loop_state.checksum_reports_left_out == 0)
		print_message(LOG_WARNING, "%s", checksum_error_message);
	else
		print_message(LOG_WARNING, checksum_errors_left_out_format, loop_state.checksum_reports_left_out);
	loop_state.last_checksum_report_ns = now_ns;
	loop_state.checksum_reports_left_out = 0;
}

// An idle read that ended at now_ns (0: cut short by a stop): a count left
// waiting goes out once its second is over.
void report_checksums_left_out_when_due(int64_t now_ns)
{
	if (loop_state.checksum_reports_left_out == 0 || now_ns == 0 || !checksum_report_due(now_ns))
		return;
	report_checksums_left_out();
	loop_state.last_checksum_report_ns = now_ns;
}

// The adapter's line is gone (a USB serial adapter pulled out, a terminal
// hung up). Whatever it held down is let go, so nothing on the handheld is
// left with a key or a touch held; then the same path is tried again every
// second until it opens, and it is set up as at start-up. A stop ends the
// wait at once.
void wait_for_line_back()
{
	release_held_input();
	print_message(LOG_ERR, line_lost_format, active_settings.serial_device);
	close_serial_line();
	for (;;) {
		act_on_pending_stop();
		if (open_serial_line(serial_path.line_path.data(), active_settings.serial_speed,
				     line_open::again) == 0) {
			if (open_adapter_stream(serial_path.line_path.data()) == 0)
				break;
			close_serial_line();
		}
		act_on_pending_stop();
		timespec retry{1, 0};
		nanosleep(&retry, nullptr); // a stop signal cuts it short
	}
	// A stop that came while the line settled ends the daemon here: the
	// line is not back for it.
	act_on_pending_stop();
	if (active_settings.mouse_enabled)
		send_mouse_enable();
	send_led_command(keyboard_translation.led_state);
	print_message(LOG_NOTICE, line_back_format, active_settings.serial_device);
}

} // namespace

void dispatch_frame(frame_kind kind, const serial_frame &frame)
{
	frame_handlers[static_cast<std::size_t>(kind)](frame);
}

void reset_frame_loop()
{
	loop_state = {};
}

void release_held_input()
{
	outputs.form->release_keys(release_scope::all);
	lift_pointer();
	loop_state.reader = {};
	forget_keyboard_state();
	reset_joystick_state();
}

frame_event translate_serial_byte(uint8_t byte)
{
	frame_event event = feed_frame_byte(loop_state.reader, byte, active_settings.mouse_enabled);
	switch (event) {
	case frame_event::good:
		dispatch_frame(loop_state.reader.kind, loop_state.reader.frame);
		break;
	case frame_event::bad_checksum:
		report_frame({.kind = frame_report_kind::bad_checksum, .frame = &loop_state.reader.frame});
		break;
	case frame_event::dropped:
		report_frame({.kind = frame_report_kind::mouse_dropped, .frame = &loop_state.reader.frame});
		break;
	case frame_event::none:
		// Back at position 0 without a frame: the byte started none.
		if (loop_state.reader.position == 0)
			report_frame({.kind = frame_report_kind::byte_skipped, .byte = byte});
		break;
	}
	return event;
}

frame_event handle_serial_byte(uint8_t byte)
{
	frame_event event = translate_serial_byte(byte);
	// Whoever reads the daemon's output (a log pipe, a file) sees the
	// report when it happens, not at exit.
	if (event == frame_event::bad_checksum)
		report_bad_checksum();
	return event;
}

void report_checksums_left_out()
{
	if (loop_state.checksum_reports_left_out == 0)
		return;
	print_message(LOG_WARNING, checksum_errors_not_logged_format, loop_state.checksum_reports_left_out);
	loop_state.checksum_reports_left_out = 0;
}

void carry_system_lights()
{
	if (outputs.form->take_lights(keyboard_translation.led_state))
		send_led_command(keyboard_translation.led_state);
}

void frame_loop()
{
	for (;;) {
		const serial_read got = read_serial_byte();
		if (got.kind == serial_read_kind::lost) {
			wait_for_line_back();
			continue;
		}
		frame_event event = frame_event::none;
		if (got.kind == serial_read_kind::byte)
			event = handle_serial_byte(got.byte);
		else
			report_checksums_left_out_when_due(got.idle_end_ns);
		// Lights are looked at between frames and whenever the line falls
		// idle, so a light set on a quiet line is out within 0.1 s.
		if (got.kind == serial_read_kind::idle || event != frame_event::none)
			carry_system_lights();
		act_on_pending_stop();
	}
}
