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
	return open_key_streams(with_pointer, keypipe_device);
}

void release_key_pipe(release_scope scope)
{
	release_stream_keys(scope, write_key_raw);
}

} // namespace

const output_form key_pipe_form = {
	open_key_pipe, send_key_raw, send_touch_line, nullptr, nullptr,
	release_key_pipe, unblock_streams, close_key_streams,
};
