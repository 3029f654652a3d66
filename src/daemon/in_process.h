// The daemon started inside another program, on memory instead of devices.
//
// The trace tool, the transcript runner, the fuzz targets and the
// benchmarks run the daemon's own frame handlers in their process. They
// start it here, the way the daemon starts, minus what concerns only the
// machine (signals, the console layout, the line, detaching): the options,
// the key map, the calibration, the output form with the streams given for
// its devices, and screen memory of the caller's for the cursor. Whatever
// the options leave out stays unattached, as in the daemon.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "keyboard/key_map.h"

// What stands for each device; null (or -1) for none.
struct in_process_devices {
	FILE *kbd = nullptr;         // key events, without -V
	FILE *keypipe = nullptr;     // key events, with -V
	FILE *ts = nullptr;          // touch lines, taken only with -M
	FILE *adapter = nullptr;     // the commands to the adapter
	int uinput_keyboard = -1;    // with -u: the keyboard device's records
	int uinput_mouse = -1;       // with -u and -M: the mouse's
};

// Screen memory the cursor may draw into: mapping is its first byte, pixel
// (0, 0) lies page_offset bytes in, length bytes follow it, rows are
// line_length bytes apart. A null mapping: no screen.
struct in_process_screen {
	unsigned char *mapping = nullptr;
	int32_t page_offset = 0;
	std::size_t length = 0;
	uint32_t line_length = 0;
};

struct in_process_start {
	int argc = 0;           // the daemon's command line, argv[0] its name
	char **argv = nullptr;
	const char *key_map = nullptr;    // a key map file to load, or
	FILE *key_map_stream = nullptr;   // one already open; neither: the tables as they are
	key_map_observer observer = nullptr;
	void *observer_context = nullptr;
	const char *calibration = nullptr;      // a calibration file to read, if any,
	const char *calibration_name = nullptr; // and the name its warnings give it
	in_process_devices devices;
	in_process_screen screen;
};

enum class in_process_outcome {
	started,
	options_refused, // the options do not make a run (-h and -v included)
	key_map_missing, // the key map file cannot be opened
};

// From the state before start-up: the settings by the options, the key map
// loaded, the calibration read, the output form chosen by the options with
// the given devices attached, the screen memory attached, and with -M the
// mouse-enable command sent to the adapter stream, as the daemon does
// before it reads its first byte.
[[nodiscard]] in_process_outcome start_in_process(const in_process_start &start);
