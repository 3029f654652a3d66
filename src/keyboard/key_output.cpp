// Writing key events to the keyboard or key-injection device.
#include "keyboard/key_output.h"

#include "core/settings.h"
#include "core/stop_request.h"

FILE *key_out = nullptr;

void reset_key_output()
{
	key_out = nullptr;
}

void send_key(int code, int down)
{
	// Once a stop is pending no new event is started: a consumer that has
	// stopped reading would block this write with nothing left to wake it.
	if (!key_out || stop_pending())
		return;
	if (use_keypipe)
		write_key_raw(code, down);
	else
		write_key_text(code, down);
}

void write_key_raw(int code, int down)
{
	// Flushed like the text form: the key-injection device must see a key
	// when it is pressed, not when a buffer of some two thousand events
	// has filled or the daemon ends.
	(void)fprintf(key_out, "%c%c", code, down); // device errors are not acted on
	(void)fflush(key_out);
}

void write_key_text(int code, int down)
{
	(void)fprintf(key_out, " %d %d \n", code, down);
	(void)fflush(key_out);
}
