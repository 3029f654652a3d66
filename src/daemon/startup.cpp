// The start-up sequence. Each step gives 0 or -1 and prints its own
// message; the daemon ends on the first -1 through exit(), so the clean-up
// registered first undoes whatever was opened before it.
#include "daemon/startup.h"

#include <array>
#include <cstdlib>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/message_log.h"
#include "core/readiness.h"
#include "core/settings.h"
#include "daemon/frame_loop.h"
#include "daemon/layout_command.h"
#include "daemon/options.h"
#include "daemon/shutdown.h"
#include "daemon/signals.h"
#include "keyboard/keyboard_frame.h"
#include "keyboard/key_map.h"
#include "pointer/calibration.h"
#include "pointer/framebuffer.h"
#include "pointer/screen.h"
#include "serial/serial_line.h"

namespace {

// A step that failed ends start-up with status 1. If a stop signal is what
// made it fail (an open of a device nobody reads, interrupted), the stop is
// reported as such.
[[noreturn]] void fail_start_up()
{
	act_on_pending_stop();
	exit(1);
}

// The output form the options ask for: input devices with -u, raw key
// events with -V, else the handheld's text form. Its devices are opened
// last; the steps before ask it what it needs.
int choose_output_form(const start_up_sources *)
{
	if (active_settings.use_uinput)
		outputs.form = &uinput_form;
	else
		outputs.form = active_settings.use_keypipe ? &key_pipe_form : &key_text_form;
	return 0;
}

int load_key_map_file(const char *path, key_map_observer observer, void *context)
{
	if (key_map_file_refused(path))
		return -1;
	return load_key_map(path, observer, context);
}

// The daemon's key map is the one -m or console mode chooses; another
// program gives a file, a stream or neither.
int load_start_key_map(const start_up_sources *given)
{
	const char *path = given ? given->key_map : chosen_key_map();
	key_map_observer observer = given ? given->observer : nullptr;
	void *context = given ? given->observer_context : nullptr;
	if (path || (given && given->key_map_stream))
		reset_key_map();
	if (path && load_key_map_file(path, observer, context) == -1) {
		fputs(key_map_missing_message, stdout);
		return -1;
	}
	if (given && given->key_map_stream &&
	    load_key_map_stream(given->key_map_stream, observer, context) == -1) {
		fputs(key_map_missing_message, stdout);
		return -1;
	}
	return 0;
}

// Whether standard output is the journal, which then gets bad frames at
// the system log's pace.
int find_message_sink(const start_up_sources *)
{
	notice_journal_output();
	return 0;
}

int install_signals(const start_up_sources *)
{
	install_signal_handlers();
	return 0;
}

// Console mode takes the kernel's layout over. The stop signals are already
// caught here, so one that comes while the command runs is acted on as soon
// as it has ended, and the exit clean-up puts the built-in layout back.
int switch_console_layout(const start_up_sources *)
{
	if (!active_settings.console_mode)
		return 0;
	run_layout_command(load_console_layout); // a missing layout changes nothing here
	return 0;
}

// The calibration and the screen the cursor is drawn on, for a form that
// keeps the pointer's place. Input devices leave the screen to the system:
// no calibration, no framebuffer, no cursor. Never fails.
int set_up_pointer_screen(const start_up_sources *given)
{
	if (!outputs.form->keeps_pointer)
		return 0;
	if (!given) {
		setup_screen();
		return 0;
	}
	if (given->calibration)
		read_calibration(given->calibration, given->calibration_name);
	if (given->screen.mapping) {
		reset_screen_map();
		attach_screen_memory(given->screen.mapping, given->screen.page_offset,
				     given->screen.length, given->screen.line_length);
	}
	return 0;
}

// The path is made absolute first: once detached, the daemon's working
// directory is /, and a relative path would be looked for there whenever
// the line is lost.
int open_line(const start_up_sources *)
{
	keep_line_path(active_settings.serial_device);
	return open_serial_line(serial_path.line_path.data(), active_settings.serial_speed,
				line_open::at_start_up);
}

// The stream the commands to the adapter (mouse enable, lights) go down.
int open_adapter_commands(const start_up_sources *given)
{
	if (given) {
		serial_line.adapter_out = given->adapter;
		return 0;
	}
	return open_adapter_stream(serial_path.line_path.data());
}

int enable_mouse(const start_up_sources *)
{
	if (active_settings.mouse_enabled)
		send_mouse_enable();
	return 0;
}

// Every key code the key map and the joystick lines can send, told to the
// form before it opens its devices.
int declare_key_codes(const start_up_sources *)
{
	for (const auto &combination : key_tables.key_table)
		for (const auto &code : combination)
			for (const key_entry &slot : code)
				if (slot.name && slot.value != 0)
					outputs.form->declare_key(slot.value);
	for (int32_t value : key_tables.joystick_keys)
		outputs.form->declare_key(static_cast<uint32_t>(value));
	return 0;
}

int open_output_form(const start_up_sources *given)
{
	return outputs.form->open(active_settings.mouse_enabled, given ? &given->devices : nullptr);
}

// A form that leaves the lights to the system (-u) shows the system's
// lights from the start. The kernel hands a new keyboard device only the
// lights that are on, so a keyboard still lit from an earlier run would stay
// lit under an all-off console: the lights the kernel has handed over by now
// are taken, then the whole state goes out once. Later changes follow in
// the frame loop.
int send_start_lights(const start_up_sources *)
{
	if (outputs.form->lights_follow_keys)
		return 0;
	(void)outputs.form->take_lights(keyboard_translation.led_state); // sent below either way
	send_led_command(keyboard_translation.led_state);
	return 0;
}

struct start_up_step {
	int (*run)(const start_up_sources *given);
	bool machine_only; // never run inside another program
	bool stop_after;   // on the machine, a pending stop ends start-up here
};

constexpr std::array<start_up_step, 12> start_up_steps = {{
	{choose_output_form, false, false},
	{find_message_sink, true, false},
	{load_start_key_map, false, false},
	{install_signals, true, false},
	{switch_console_layout, true, true},
	{set_up_pointer_screen, false, true},
	{open_line, true, true},
	{open_adapter_commands, false, false},
	{enable_mouse, false, false},
	{declare_key_codes, false, false},
	{open_output_form, false, true},
	{send_start_lights, false, false},
}};

void detach()
{
	active_settings.debug_enabled = false;
	// The messages printed so far belong to the terminal that started us;
	// the process that leaves inside daemon() would take them along.
	(void)fflush(stdout);
	if (daemon(0, 0) == 0) {
		create_interrupt_timer();
		// Standard output is /dev/null now.
		send_messages_to_syslog();
	}
	// On failure the loop simply runs in the foreground, timer and all.
}

} // namespace

// A key map that is a directory, a device or a FIFO (anything but a
// regular file) would open and give no key at all, or hold start-up until
// someone writes to it: it counts as missing.
bool key_map_file_refused(const char *path)
{
	struct stat status{};
	return stat(path, &status) == 0 && !S_ISREG(status.st_mode);
}

int run_start_up_steps(const start_up_sources *given)
{
	for (const start_up_step &step : start_up_steps) {
		if (given && step.machine_only)
			continue;
		if (step.run(given) == -1)
			return -1;
		if (!given && step.stop_after)
			act_on_pending_stop();
	}
	return 0;
}

void run_daemon(int argc, char **argv)
{
	if (atexit(cleanup_at_exit) != 0)
		print_usage(2);
	if (argc > 0 && argv[0])
		active_settings.program_name = basename(argv[0]);

	switch (parse_options(argc, argv)) {
	case option_outcome::run: break;
	case option_outcome::show_usage: print_usage(0);
	case option_outcome::show_version: print_version();
	case option_outcome::bad_usage: print_usage(1);
	}

	// A detached child is not the process a service manager started: with
	// -b it hears nothing.
	if (!active_settings.run_in_background)
		find_service_manager();
	if (run_start_up_steps(nullptr) == -1)
		fail_start_up();
	if (active_settings.run_in_background)
		detach();
	notify_service_manager(ready_notice);
	frame_loop();
}
