// The daemon's start-up for a run inside another program; see in_process.h.
#include "daemon/in_process.h"

#include "core/settings.h"
#include "daemon/options.h"
#include "daemon/startup.h"
#include "output/key_stream.h"
#include "output/touch_text.h"
#include "output/uinput.h"
#include "pointer/calibration.h"
#include "pointer/framebuffer.h"
#include "serial/serial_line.h"

in_process_outcome start_in_process(const in_process_start &start)
{
	if (parse_options(start.argc, start.argv) != option_outcome::run)
		return in_process_outcome::options_refused;
	if (start.key_map && load_key_map(start.key_map, start.observer, start.observer_context) == -1)
		return in_process_outcome::key_map_missing;
	if (start.key_map_stream &&
	    load_key_map_stream(start.key_map_stream, start.observer, start.observer_context) == -1)
		return in_process_outcome::key_map_missing;
	if (start.calibration)
		read_calibration(start.calibration, start.calibration_name);
	if (start.screen.mapping) {
		reset_screen_map();
		attach_screen_memory(start.screen.mapping, start.screen.page_offset,
				     start.screen.length, start.screen.line_length);
	}

	const in_process_devices &devices = start.devices;
	serial_line.adapter_out = devices.adapter;
	if (active_settings.mouse_enabled)
		send_mouse_enable();
	outputs.form = chosen_output_form();
	if (active_settings.use_uinput) {
		attach_uinput_descriptors(devices.uinput_keyboard,
					  active_settings.mouse_enabled ? devices.uinput_mouse : -1);
		return in_process_outcome::started;
	}
	key_out = active_settings.use_keypipe ? devices.keypipe : devices.kbd;
	if (active_settings.mouse_enabled)
		touch_out = devices.ts;
	return in_process_outcome::started;
}
