// What the two key stream forms share; see key_stream.h.
#include "output/key_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include "core/stop_request.h"

FILE *key_out = nullptr;

void reset_key_stream()
{
	key_out = nullptr;
}

FILE *open_device_stream(const char *path)
{
	int fd = open(path, O_WRONLY | O_NOCTTY);
	if (fd == -1)
		return nullptr;
	FILE *stream = fdopen(fd, "w");
	if (!stream)
		(void)close(fd);
	return stream;
}

namespace {

constexpr int wrapper_code = 30;
constexpr int shift_code = 27;

} // namespace

void send_stream_key(const key_event &event, void (*write_one)(int code, int down))
{
	if (!key_out || stop_pending())
		return;
	// A key release whose slot is empty (value 0) sends nothing here; a
	// joystick button sends its value whatever it is, 0 included.
	if (event.value == 0 && event.source == key_source::keyboard)
		return;
	// A joystick button sends its low byte as it is, never wrapped.
	int code = key_code_byte(event.value);
	if (event.source == key_source::joystick || !is_wrapped_key(event.value)) {
		write_one(code, event.down);
		return;
	}
	if (event.down) {
		if (event.shifted)
			write_one(shift_code, 0);
		write_one(wrapper_code, 1);
		write_one(code, 1);
	} else {
		write_one(code, 0);
		if (event.shifted)
			write_one(shift_code, 1);
		write_one(wrapper_code, 0);
	}
}

void close_key_stream()
{
	if (key_out)
		(void)fclose(key_out);
	key_out = nullptr;
}
