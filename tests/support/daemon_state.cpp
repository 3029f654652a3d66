// The one list of the daemon's resets; see daemon_state.h.
#include "daemon_state.h"

#include "core/message_log.h"
#include "core/readiness.h"
#include "core/settings.h"
#include "core/stop_request.h"
#include "daemon/frame_loop.h"
#include "joystick/joystick_frame.h"
#include "keyboard/key_map.h"
#include "keyboard/keyboard_frame.h"
#include "output/key_stream.h"
#include "output/output_form.h"
#include "output/touch_text.h"
#include "output/uinput.h"
#include "pointer/screen.h"
#include "serial/serial_line.h"

void reset_daemon_state()
{
	reset_settings();
	reset_stop_request();
	reset_message_log();
	reset_service_manager();
	reset_serial_line();
	reset_frame_loop();
	reset_key_map();
	reset_output();
	reset_key_stream();
	reset_touch_text();
	reset_uinput();
	reset_keyboard_frame_state();
	reset_joystick_state();
	reset_pointer_state();
}
