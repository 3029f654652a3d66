// Writing touch lines to the touch-screen device; see touch_output.h.
#include "pointer/touch_output.h"

#include "core/stop_request.h"

FILE *touch_out = nullptr;

void reset_touch_output()
{
	touch_out = nullptr;
}

void send_touch(int pressure, int x, int y)
{
	if (!touch_out || stop_pending())
		return;
	// A full device loses the line; the cursor still moves.
	(void)fprintf(touch_out, "%d %d %d 0\n", pressure, x, y);
	(void)fflush(touch_out);
}
