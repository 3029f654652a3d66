// The handheld's text form: key events as text lines on the keyboard
// device, touches on the touch-screen device.
#include "core/settings.h"
#include "output/key_stream.h"
#include "output/output_form.h"
#include "output/touch_text.h"

namespace {

void write_key_text(int code, int down)
{
	(void)fprintf(key_out, " %d %d \n", code, down); // device errors are not acted on
	(void)fflush(key_out);
}

void send_key_text(const key_event &event)
{
	send_stream_key(event, write_key_text);
}

int open_key_text(bool with_pointer, const given_output_devices *given)
{
	if (!given)
		return open_key_streams(with_pointer, keyboard_device);
	attach_key_streams(with_pointer, given->kbd, given->ts);
	return 0;
}

void release_key_text(release_scope scope)
{
	release_stream_keys(scope, write_key_text);
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

const output_form key_text_form = {
	.keeps_pointer = true,
	.lights_follow_keys = true,
	.declare_key = declare_no_key,
	.open = open_key_text,
	.send_key = send_key_text,
	.send_touch = send_touch_line,
	.send_motion = send_no_motion,
	.take_lights = take_no_lights,
	.release_keys = release_key_text,
	.unblock = unblock_streams,
	.close = close_key_streams,
};
