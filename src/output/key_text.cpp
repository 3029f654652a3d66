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

int open_key_text(bool with_pointer)
{
	return open_key_streams(with_pointer, keyboard_device);
}

void release_key_text(release_scope scope)
{
	release_stream_keys(scope, write_key_text);
}

} // namespace

const output_form key_text_form = {
	open_key_text, send_key_text, send_touch_line, nullptr, nullptr,
	release_key_text, unblock_streams, close_key_streams,
};
