// Run-time settings of the daemon.
//
// Everything the command line can change lives here, in one record whose
// defaults are written once, in its definition. It is filled by the option
// parser before any device is touched and only read afterwards; the one
// exception is debug_enabled, which is switched off when the daemon
// detaches into the background. Every part of the daemon reads a setting
// through the record: active_settings.serial_device.
#pragma once

#include <cstdint>

// Values before any option is read.
inline constexpr const char *default_program_name = "ps2linkd";
inline constexpr const char *default_serial_device = "/dev/ttyS1";
inline constexpr int32_t default_serial_speed = 9600;

struct run_settings {
	const char *program_name = default_program_name;
	const char *serial_device = default_serial_device; // -p
	int32_t serial_speed = default_serial_speed;       // -s, bits per second
	const char *key_map_name = nullptr;                // -m, null when not given
	bool debug_enabled = false;     // -i
	bool use_keypipe = false;       // -V
	bool use_uinput = false;        // -u
	bool console_mode = false;      // -c
	bool mouse_enabled = false;     // -M
	bool run_in_background = false; // -b
	bool touch_rotated = false;     // -x
};
extern run_settings active_settings;


// Where the key map lives on the handheld: one for the handheld's own
// software, one for when its console (or X) takes the keyboard.
extern const char *const default_key_map;
extern const char *const console_key_map;

// The version that -v reports.
inline constexpr const char *program_version = "1.1.0";

// The fixed device paths of the handheld.
inline constexpr const char *keyboard_device = "/dev/kbd";
inline constexpr const char *keypipe_device = "/dev/keypipe";
inline constexpr const char *touch_device = "/dev/ts";
inline constexpr const char *framebuffer_device = "/dev/fb0";
inline constexpr const char *calibration_file = "/etc/pointercal";

// The kernel keyboard layouts that console mode switches between.
inline constexpr const char *load_console_layout = "loadkmap < /etc/ps2.kmap";
inline constexpr const char *restore_builtin_layout = "loadkmap < /etc/zeta.kmap";

// Which key map start-up loads: -m wins, then console mode decides.
const char *chosen_key_map();

// Every setting back to its value before the options are read.
void reset_settings();
