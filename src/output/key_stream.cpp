// What the two key stream forms share; see key_stream.h.
#include "output/key_stream.h"

#include <array>

#include "output/touch_text.h"

FILE *key_out = nullptr;

namespace {

constexpr int wrapper_code = 30;
constexpr int shift_code = 27;
constexpr std::size_t key_codes = 256;

// Per key code, whether the keyboard and whether the joystick last wrote
// it down: what the reader of the device takes to be held.
struct held_key_state {
	std::array<bool, key_codes> keyboard{};
	std::array<bool, key_codes> joystick{};
};
held_key_state held_keys;

// One event out, and the held keys kept up to date with it.
void write_tracked(void (*write_one)(int code, int down), key_source source, int code, int down)
{
	write_one(code, down);
	auto &by_source = source == key_source::joystick ? held_keys.joystick : held_keys.keyboard;
	by_source[static_cast<std::size_t>(code) % key_codes] = down != 0;
}

} // namespace

void reset_key_stream()
{
	key_out = nullptr;
	held_keys = {};
}

void send_stream_key(const key_event &event, void (*write_one)(int code, int down))
{
	if (!key_out || !output_may_write())
		return;
	// A key release whose slot is empty (value 0) sends nothing here; a
	// joystick button sends its value whatever it is, 0 included.
	if (event.value == 0 && event.source == key_source::keyboard)
		return;
	// A joystick button sends its low byte as it is, never wrapped.
	int code = key_code_byte(event.value);
	key_source source = event.source;
	if (source == key_source::joystick || !is_wrapped_key(event.value)) {
		write_tracked(write_one, source, code, event.down);
		return;
	}
	if (event.down) {
		if (event.shifted)
			write_tracked(write_one, source, shift_code, 0);
		write_tracked(write_one, source, wrapper_code, 1);
		write_tracked(write_one, source, code, 1);
	} else {
		write_tracked(write_one, source, code, 0);
		if (event.shifted)
			write_tracked(write_one, source, shift_code, 1);
		write_tracked(write_one, source, wrapper_code, 0);
	}
}

void release_stream_keys(release_scope scope, void (*write_one)(int code, int down))
{
	if (!key_out || !output_may_write())
		return;
	for (std::size_t code = 0; code < key_codes; ++code) {
		bool by_joystick = scope == release_scope::all && held_keys.joystick[code];
		if (held_keys.keyboard[code] || by_joystick)
			write_one(static_cast<int>(code), 0);
		held_keys.keyboard[code] = false;
		if (scope == release_scope::all)
			held_keys.joystick[code] = false;
	}
}

void unblock_streams()
{
	unblock_stream(key_out);
	unblock_stream(touch_out);
}

int open_key_streams(bool with_pointer, const given_output_devices *given, const char *path,
		     FILE *given_output_devices::*given_keys)
{
	if (given) {
		if (with_pointer)
			attach_touch_text(given->ts);
		key_out = given->*given_keys;
		return 0;
	}
	if (with_pointer && open_touch_text() == -1)
		return -1;
	key_out = open_device_stream(path);
	return key_out ? 0 : -1;
}

void declare_no_stream_key(uint32_t) {}

void send_no_stream_motion(int, int, unsigned) {}

bool take_no_stream_lights(unsigned &)
{
	return false;
}

void close_key_streams()
{
	if (key_out)
		(void)fclose(key_out);
	key_out = nullptr;
	close_touch_text();
}
