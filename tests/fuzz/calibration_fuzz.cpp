// Any file as /etc/pointercal: the reader must cope, and the inverse touch
// transform must give an int for every screen position whatever the seven
// integers are (the float-to-int conversions are checked by UBSan).
//
// The reader takes a path, so the input is written to a memory file and read
// back through /proc/self/fd, as the daemon reads the real file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "core/settings.h"
#include "daemon/frame_loop.h"
#include "daemon/in_process.h"
#include "fuzz_support.h"
#include "pointer/calibration.h"
#include "pointer/panel.h"
#include "pointer/screen.h"
#include "output/touch_text.h"
#include "serial/frame_payload.h"

namespace {

int memory_file = -1;
std::string memory_path;
FILE *touch_stream;

// Positions where the transform's terms are largest or change sign.
constexpr int corner_rows[] = {0, 1, screen_rows / 2, screen_rows - 1};
constexpr int corner_columns[] = {0, 1, screen_columns / 2, screen_columns - 1};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	memory_file = memfd_create("pointercal", 0);
	touch_stream = open_discard_stream();
	if (memory_file < 0 || !touch_stream)
		exit(1);
	memory_path = "/proc/self/fd/" + std::to_string(memory_file);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// The reader and the transform use the pointer's state and the settings
	// alone (the whole reset_daemon_state() would empty 8192 key slots per
	// input for nothing).
	reset_settings();
	reset_pointer_state();
	if (ftruncate(memory_file, 0) != 0 ||
	    pwrite(memory_file, data, size, 0) != static_cast<ssize_t>(size))
		abort();
	// Started as the daemon with -M -x -c (the mouse, rotated, and no
	// framebuffer here), its touch lines going nowhere.
	in_process_start start;
	start.options = "-Mxc";
	start.given.calibration = memory_path.c_str();
	start.given.devices.ts = touch_stream;
	if (start_in_process(start) != in_process_outcome::started)
		abort();

	for (bool rotated : {false, true}) {
		active_settings.touch_rotated = rotated;
		for (int row : corner_rows)
			for (int column : corner_columns)
				(void)touch_of_position(row, column);
	}
	// The mouse handler's own arithmetic on the result (the rotated report's
	// 480 - x): to the top left corner and to the bottom right one.
	for (serial_frame frame : {make_mouse_frame(-128, -128, 0), make_mouse_frame(127, 127, 0),
				   make_mouse_frame(127, 127, 0), make_mouse_frame(127, 127, 0)})
		dispatch_frame(frame_kind::mouse, frame);
	return 0;
}
