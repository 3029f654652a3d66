// Run-time settings: the record every setting lives in.
#include "core/settings.h"

run_settings active_settings;

const char *const default_key_map = "/opt/Brindle/etc/ser_code_vantor.ini";
const char *const console_key_map = "/etc/ser_code_vantor_console.ini";

const char *chosen_key_map()
{
	if (active_settings.key_map_name)
		return active_settings.key_map_name;
	return active_settings.console_mode ? console_key_map : default_key_map;
}

void reset_settings()
{
	active_settings = {};
}
