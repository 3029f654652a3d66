// The handheld's text form: key events as text lines on the keyboard
// device, touches on the touch-screen device.
#include "core/settings.h"
#include "output/key_stream.h"

namespace {

void write_key_text(int code, int down)
{
	(void)fprintf(key_out, " %d %d \n", code, down); // device errors are not acted on
	(void)fflush(key_out);
}

} // namespace

constinit const output_form key_text_form =
	make_stream_form<write_key_text, &keyboard_device, &given_output_devices::kbd>();
