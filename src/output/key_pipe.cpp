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

int open_key_pipe(bool with_pointer, const given_output_devices *given)
{
	if (!given)
		return open_key_streams(with_pointer, keypipe_device);
	attach_key_streams(with_pointer, given->keypipe, given->ts);
	return 0;
}

void release_key_pipe(release_scope scope)
{
	release_stream_keys(scope, write_key_raw);
}

// The handheld's key devices declare nothing: every code goes.
void declare_no_key(uint32_t) {}

// The mouse is a touch at the pointer's place, never relative motion.
void send_no_motion(int, int, unsigned) {}

// Nobody but the daemon sets the keyboard's lights here.
bool take_no_lights(unsigned &)
{
	return false;
}

} // namespace

const output_form key_pipe_form = {
	.keeps_pointer = true,
	.lights_follow_keys = true,
	.declare_key = declare_no_key,
	.open = open_key_pipe,
	.send_key = send_key_raw,
	.send_touch = send_touch_line,
	.send_motion = send_no_motion,
	.take_lights = take_no_lights,
	.release_keys = release_key_pipe,
	.unblock = unblock_streams,
	.close = close_key_streams,
};
