// The key-injection form (-V): key events as two raw bytes each, code and
// down, on the key-injection device; touches as in the text form.
#include "core/settings.h"
#include "output/key_stream.h"
#include "output/output_form.h"
#include "output/touch_text.h"

namespace {

void write_key_raw(int code, int down)
{
	// Flushed like the text form: the key-injection device must see a key
	// when it is pressed, not when a buffer of some two thousand events
	// has filled or the daemon ends.
	(void)fprintf(key_out, "%c%c", code, down); // device errors are not acted on
	(void)fflush(key_out);
}

void send_key_raw(const key_event &event)
{
	send_stream_key(event, write_key_raw);
}

int open_key_pipe(bool with_pointer)
{
	if (with_pointer && open_touch_text() == -1)
		return -1;
	key_out = open_device_stream(keypipe_device);
	return key_out ? 0 : -1;
}

void close_key_pipe()
{
	close_key_stream();
	close_touch_text();
}

} // namespace

const output_form key_pipe_form = {
	open_key_pipe, send_key_raw, send_touch_line, nullptr, nullptr, close_key_pipe,
};
