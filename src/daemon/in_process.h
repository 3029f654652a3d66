// The daemon started inside another program, on memory instead of devices.
//
// The trace tool, the transcript runner, the fuzz targets and the
// benchmarks run the daemon's own frame handlers in their process. They
// start it here, through the daemon's own start-up steps, minus what
// concerns only the machine (signals, the console layout, the line,
// detaching): the options, the key map, the calibration and screen memory
// of the caller's for the cursor (for a form that keeps the pointer), the
// adapter's command stream and the output form with the streams given for
// its devices. Whatever the options leave out stays unattached, as in the
// daemon.
#pragma once

#include "daemon/startup.h"

struct in_process_start {
	int argc = 0;           // the daemon's command line, argv[0] its name,
	const char *const *argv = nullptr;
	const char *options = nullptr; // or one group of options ("-uM"), taken after "ps2linkd"
	start_up_sources given; // the files and devices, in the machine's place
};

enum class in_process_outcome {
	started,
	options_refused, // the options do not make a run (-h and -v included)
	start_failed,    // a start-up step failed and said why (the key map is missing)
};

// From the state before start-up: the settings by the options, then the
// daemon's start-up steps on what start.given holds: with -M the
// mouse-enable command is sent to the adapter stream, as the daemon does
// before it reads its first byte.
[[nodiscard]] in_process_outcome start_in_process(const in_process_start &start);
