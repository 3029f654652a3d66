// Start-up of the daemon: the command line, the key map, the signals, the
// screen, the serial line and the output devices, in that order.
#pragma once

#include "output/output_form.h"

// The output form the options ask for: input devices with -u, raw key
// events with -V, else the handheld's text form.
[[nodiscard]] const output_form *chosen_output_form();

[[noreturn]] void run_daemon(int argc, char **argv);

// Printed when the key map cannot be opened; start-up then ends with 1.
inline constexpr char key_map_missing_message[] = "Key map file is not found\n";
