// Run-time settings: their values before any option is read.
#include "core/settings.h"

const char *program_name = default_program_name;
const char *serial_device = default_serial_device;
int32_t serial_speed = default_serial_speed;
const char *key_map_name = nullptr;

const char *const default_key_map = "/opt/Brindle/etc/ser_code_vantor.ini";
const char *const console_key_map = "/etc/ser_code_vantor_console.ini";

bool debug_enabled = false;
bool use_keypipe = false;
bool use_uinput = false;
bool console_mode = false;
bool mouse_enabled = false;
bool run_in_background = false;
bool touch_rotated = false;

const char *chosen_key_map()
{
	if (key_map_name)
		return key_map_name;
	return console_mode ? console_key_map : default_key_map;
}

void reset_settings()
{
	program_name = default_program_name;
	serial_device = default_serial_device;
	serial_speed = default_serial_speed;
	key_map_name = nullptr;
	debug_enabled = false;
	use_keypipe = false;
	use_uinput = false;
	console_mode = false;
	mouse_enabled = false;
	run_in_background = false;
	touch_rotated = false;
}
