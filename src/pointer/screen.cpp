// Start-up of the pointer, and the reset of all its state.
#include "pointer/screen.h"

#include "core/settings.h"
#include "pointer/calibration.h"
#include "pointer/cursor.h"
#include "pointer/framebuffer.h"
#include "pointer/mouse_frame.h"

void setup_screen()
{
	read_calibration(calibration_file);
	map_framebuffer(framebuffer_device);
}

void reset_pointer_state()
{
	reset_calibration();
	reset_screen_map();
	reset_cursor();
	reset_mouse_position();
}
