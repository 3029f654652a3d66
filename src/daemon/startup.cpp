// The start-up sequence. Every failing step ends the process through exit(),
// so the clean-up registered first undoes whatever was opened before it.
#include "daemon/startup.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <libgen.h>
#include <unistd.h>

#include "core/settings.h"
#include "daemon/frame_loop.h"
#include "daemon/layout_command.h"
#include "daemon/options.h"
#include "daemon/shutdown.h"
#include "keyboard/key_map.h"
#include "output/key_stream.h"
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

void load_chosen_key_map()
{
	if (load_key_map(chosen_key_map()) == -1) {
		fputs(key_map_missing_message, stdout);
		exit(1);
	}
}

// Console mode takes the kernel's layout over. The stop signals are already
// caught here, so one that comes while the command runs is acted on as soon
// as it has ended, and the exit clean-up puts the built-in layout back.
void switch_console_layout()
{
	if (!console_mode)
		return;
	run_layout_command(load_console_layout); // a missing layout changes nothing here
	act_on_pending_stop();
}

// An input device must declare every key code it will send before it is
// made: every code the key map and the joystick lines can send.
void declare_key_codes()
{
	for (const auto &combination : key_table)
		for (const auto &code : combination)
			for (const key_entry &slot : code)
				if (slot.name && slot.value != 0)
					declare_uinput_key(slot.value);
	for (int32_t value : joystick_keys)
		declare_uinput_key(static_cast<uint32_t>(value));
}

void detach()
{
	debug_enabled = false;
	// The messages printed so far belong to the terminal that started us;
	// the process that leaves inside daemon() would take them along.
	(void)fflush(stdout);
	if (daemon(0, 0) == 0)
		create_interrupt_timer();
	// On failure the loop simply runs in the foreground, timer and all.
}

} // namespace

const output_form *chosen_output_form()
{
	if (use_uinput)
		return &uinput_form;
	return use_keypipe ? &key_pipe_form : &key_text_form;
}

void run_daemon(int argc, char **argv)
{
	if (atexit(cleanup_at_exit) != 0)
		print_usage(2);
	if (argc > 0 && argv[0])
		program_name = basename(argv[0]);

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
	if (!use_uinput)
		setup_screen();
	act_on_pending_stop();

	if (open_serial_line(serial_device, serial_speed) != 0)
		fail_start_up();
	act_on_pending_stop();
	adapter_out = open_device_stream(serial_device);
	if (!adapter_out)
		fail_start_up();
	if (mouse_enabled)
		send_mouse_enable();
	output = chosen_output_form();
	if (use_uinput)
		declare_key_codes();
	if (output->open(mouse_enabled) == -1)
		fail_start_up();
	act_on_pending_stop();

	if (run_in_background)
		detach();
	frame_loop();
}
