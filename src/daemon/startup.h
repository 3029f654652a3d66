// Start-up of the daemon: the command line, the key map, the signals, the
// screen, the serial line and the output devices, in that order.
//
// The steps after the command line are one table, walked by the daemon and
// by every run of the daemon inside another program (the trace tool, the
// transcript runner, the fuzz targets, the benchmark; see in_process.h).
// Each step prints its own message and gives a status; only run_daemon
// turns a failed step into the exit. Where the files and devices come from
// is the walk's parameter: the machine's fixed paths, or what the other
// program hands in. The steps that concern only the machine (signals, the
// console layout, the line, detaching) run in the daemon alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "keyboard/key_map.h"
#include "output/output_form.h"

// Printed when the key map cannot be opened or is no regular file; start-up
// then ends with 1.
inline constexpr char key_map_missing_message[] = "Key map file is not found\n";

// True for a key map path that is there but no regular file, which the
// daemon refuses with key_map_missing_message (a path that cannot be
// opened is refused by the loader).
[[nodiscard]] bool key_map_file_refused(const char *path);

// Screen memory the cursor may draw into: mapping is its first byte, pixel
// (0, 0) lies page_offset bytes in, length bytes follow it, rows are
// line_length bytes apart. A null mapping: no screen.
struct given_screen {
	unsigned char *mapping = nullptr;
	int32_t page_offset = 0;
	std::size_t length = 0;
	uint32_t line_length = 0;
};

// What a start-up inside another program hands in for the machine's files
// and devices. What it leaves out (null, -1) stays unattached, as in a
// daemon whose options leave it out.
struct start_up_sources {
	const char *key_map = nullptr;    // a key map file to load, or
	FILE *key_map_stream = nullptr;   // one already open; neither: the tables as they are
	key_map_observer observer = nullptr;
	void *observer_context = nullptr;
	const char *calibration = nullptr;      // a calibration file to read, if any,
	const char *calibration_name = nullptr; // and the name its warnings give it
	given_screen screen;
	given_output_devices devices; // the output form's
	FILE *adapter = nullptr;      // the commands to the adapter
};

// The start-up steps after the options, in the daemon's order. With given
// null: every step, on the machine's files and devices, a pending stop
// acted on where the daemon acts on it. Else the steps that do not concern
// the machine alone, on what given holds. 0, or -1 at the first step that
// failed (it has printed its message, if it has one).
[[nodiscard]] int run_start_up_steps(const start_up_sources *given);

[[noreturn]] void run_daemon(int argc, char **argv);
