// Writing touch lines to the touch-screen device; see touch_text.h.
#include "output/touch_text.h"

#include "core/settings.h"
#include "output/output_form.h"

FILE *touch_out = nullptr;

void reset_touch_text()
{
	touch_out = nullptr;
}

int open_touch_text()
{
	touch_out = open_device_stream(touch_device);
	return touch_out ? 0 : -1;
}

void attach_touch_text(FILE *stream)
{
	touch_out = stream;
}

void send_touch_line(int pressure, int x, int y)
{
	if (!touch_out || !output_may_write())
		return;
	// A full device loses the line; the cursor still moves.
	(void)fprintf(touch_out, "%d %d %d 0\n", pressure, x, y);
	(void)fflush(touch_out);
}

void close_touch_text()
{
	if (touch_out)
		(void)fclose(touch_out);
	touch_out = nullptr;
}
