// The one list of the daemon's resets; see daemon_state.h.
#include "daemon_state.h"

#include "core/settings.h"
#include "core/stop_request.h"
#include "daemon/frame_loop.h"
#include "joystick/joystick_frame.h"
#include "keyboard/key_map.h"
#include "keyboard/key_output.h"
#include "keyboard/keyboard_frame.h"
#include "pointer/screen.h"
#include "serial/serial_line.h"

void reset_daemon_state()
{
	reset_settings();
	reset_stop_request();
	reset_serial_line();
	reset_frame_loop();
	reset_key_map();
	reset_key_output();
	reset_keyboard_frame_state();
	reset_joystick_state();
	reset_pointer_state();
}
