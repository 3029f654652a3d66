// Run-time settings: their values before any option is read.
#include "core/settings.h"

const char *program_name = "ps2linkd";
const char *serial_device = "/dev/ttyS1";
int32_t serial_speed = 9600;
const char *key_map_name = nullptr;

const char *const default_key_map = "/opt/Brindle/etc/ser_code_vantor.ini";
const char *const console_key_map = "/etc/ser_code_vantor_console.ini";

bool debug_enabled = false;
bool use_keypipe = false;
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
