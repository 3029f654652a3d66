// The key-injection form (-V): key events as two raw bytes each, code and
// down, on the key-injection device; touches as in the text form.
#include "core/settings.h"
#include "output/key_stream.h"

namespace {

void write_key_raw(int code, int down)
{
	// Flushed like the text form: the key-injection device must see a key
	// when it is pressed, not when a buffer of some two thousand events
	// has filled or the daemon ends.
	(void)fprintf(key_out, "%c%c", code, down); // device errors are not acted on
	(void)fflush(key_out);
}

} // namespace

constinit const output_form key_pipe_form =
	make_stream_form<write_key_raw, &keypipe_device, &given_output_devices::keypipe>();
