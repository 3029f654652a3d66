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
	if (with_pointer && open_touch_text() == -1)
		return -1;
	key_out = open_device_stream(keyboard_device);
	return key_out ? 0 : -1;
}

void close_key_text()
{
	close_key_stream(); // the key device first, as it was opened last
	close_touch_text();
}

} // namespace

const output_form key_text_form = {
	open_key_text, send_key_text, send_touch_line, nullptr, nullptr, close_key_text,
};
