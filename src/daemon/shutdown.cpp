// The exit clean-up; see shutdown.h.
#include "daemon/shutdown.h"

#include "core/settings.h"
#include "daemon/frame_loop.h"
#include "daemon/layout_command.h"
#include "output/output_form.h"
#include "pointer/cursor.h"
#include "serial/serial_line.h"

namespace {

bool cleanup_done = false;

} // namespace

void cleanup_at_exit()
{
	if (cleanup_done)
		return;
	cleanup_done = true;
	report_checksums_left_out();
	if (active_settings.console_mode)
		run_layout_command(restore_builtin_layout);
	close_serial_line(); // releases the lock; HUPCL drops DTR
	// Nothing is left held on the handheld. The devices no longer block:
	// a reader that has stalled gets none of it, and the stop is not held.
	outputs.form->unblock();
	release_held_input();
	outputs.form->close();
	if (!active_settings.console_mode && cursor.cursor_drawn == 1)
		erase_cursor(cursor.cursor_last_y, cursor.cursor_last_x);
}
