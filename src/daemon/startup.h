// Start-up of the daemon: the command line, the key map, the signals, the
// screen, the serial line and the output devices, in that order.
#pragma once

#include <cstdio>

// Opens a device for writing as a stdio stream, never creating it: a
// missing device must fail start-up, not become a regular file in /dev.
[[nodiscard]] FILE *open_device_stream(const char *path);

[[noreturn]] void run_daemon(int argc, char **argv);

// Printed when the key map cannot be opened; start-up then ends with 1.
inline constexpr char key_map_missing_message[] = "Key map file is not found\n";
