// The start-up sequence. Every failing step ends the process through exit(),
// so the clean-up registered first undoes whatever was opened before it.
#include "daemon/startup.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/message_log.h"
#include "core/settings.h"
#include "daemon/frame_loop.h"
#include "daemon/layout_command.h"
#include "daemon/options.h"
#include "daemon/shutdown.h"
#include "daemon/signals.h"
#include "keyboard/key_map.h"
#include "output/uinput.h"
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

// A key map that is a directory (or anything but a regular file) would
// open and give no key at all: it counts as missing.
void load_chosen_key_map()
{
	struct stat status{};
	const char *path = chosen_key_map();
	if (stat(path, &status) == 0 && !S_ISREG(status.st_mode)) {
		fputs(key_map_missing_message, stdout);
		exit(1);
	}
	if (load_key_map(path) == -1) {
		fputs(key_map_missing_message, stdout);
		exit(1);
	}
}

// Console mode takes the kernel's layout over. The stop signals are already
// caught here, so one that comes while the command runs is acted on as soon
// as it has ended, and the exit clean-up puts the built-in layout back.
void switch_console_layout()
{
	if (!active_settings.console_mode)
		return;
	run_layout_command(load_console_layout); // a missing layout changes nothing here
	act_on_pending_stop();
}

// An input device must declare every key code it will send before it is
// made: every code the key map and the joystick lines can send.
void declare_key_codes()
{
	for (const auto &combination : key_tables.key_table)
		for (const auto &code : combination)
			for (const key_entry &slot : code)
				if (slot.name && slot.value != 0)
					declare_uinput_key(slot.value);
	for (int32_t value : key_tables.joystick_keys)
		declare_uinput_key(static_cast<uint32_t>(value));
}

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

const output_form *chosen_output_form()
{
	if (active_settings.use_uinput)
		return &uinput_form;
	return active_settings.use_keypipe ? &key_pipe_form : &key_text_form;
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

	load_chosen_key_map();
	install_signal_handlers();
	switch_console_layout();
	// Input devices leave the screen to the system: no calibration, no
	// framebuffer, no cursor.
	if (!active_settings.use_uinput)
		setup_screen();
	act_on_pending_stop();

	if (open_serial_line(active_settings.serial_device, active_settings.serial_speed,
			     line_open::at_start_up) != 0)
		fail_start_up();
	act_on_pending_stop();
	if (open_adapter_stream(active_settings.serial_device) != 0)
		fail_start_up();
	if (active_settings.mouse_enabled)
		send_mouse_enable();
	outputs.form = chosen_output_form();
	if (active_settings.use_uinput)
		declare_key_codes();
	if (outputs.form->open(active_settings.mouse_enabled) == -1)
		fail_start_up();
	act_on_pending_stop();

	if (active_settings.run_in_background)
		detach();
	frame_loop();
}
