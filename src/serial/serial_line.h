// The serial line to the adapter.
//
// The adapter sits on one of the handheld's UARTs. The daemon opens the
// device once, takes an exclusive lock so that a second copy cannot share
// it, puts the line into raw 8N1 mode at the chosen speed, raises DTR to
// power the adapter, waits for it to settle and throws away whatever it sent
// meanwhile. Bytes are then read one at a time with a 0.1 s timeout; the
// commands back to the adapter go through a second, write-only stdio stream
// on the same device.
#pragma once

#include <cstdint>
#include <cstdio>

// What the start-up steps of the line print (each on standard output).
inline constexpr char serial_open_failed_message[] = "Error opening serial device !\n";
inline constexpr char serial_setup_failed_message[] = "Couldn't set serial parameters !\n";
inline constexpr char tcgeta_failed_message[] = "can't TCGETA\n";
inline constexpr char tcseta_failed_message[] = "can't TCSETA\n";
inline constexpr char dtr_raised_message[] = "DTR set to HIGH\n"; // with -i

struct serial_line_state {
	int serial_fd = -1;          // -1 until opened
	FILE *adapter_out = nullptr; // commands to the adapter, null until opened
	int64_t last_empty_read_ns = 0; // when the last empty read ended, for pacing
};
extern serial_line_state serial_line;


// No line, no command stream: the state before start-up. Nothing is closed.
void reset_serial_line();

// Start-up: open, lock, configure. 0 on success, -1 on failure (with the
// messages of the failing step already printed, none for a held lock).
[[nodiscard]] int open_serial_line(const char *path, int32_t speed);
// report: print what fails (and, with -i, the DTR message).
[[nodiscard]] int configure_serial_line(int fd, int32_t speed, bool report);
int flush_serial_input(int fd);

// The termio speed constant for a speed in bits per second: 19200, 38400
// and 57600 are honoured, every other value runs the line at 9600.
[[nodiscard]] unsigned speed_constant(int32_t speed);

// A line that is gone: its reads fail with EIO, or it hung up.
inline constexpr int serial_line_lost = -2;

// The next byte from the line, 0..255; -1 when none came (the line was idle
// for its 0.1 s, or a stop is pending); serial_line_lost when the line is
// gone. A line that fails every read at once without being gone gives -1 at
// most ten times a second.
[[nodiscard]] int read_serial_byte();

// A lost line given up: the line and the command stream closed.
void close_serial_line();
// The same path opened again without waiting for a carrier, locked and
// configured as at start-up, quietly. 0, or -1 when it is not (yet) there
// or cannot be set up.
[[nodiscard]] int reopen_serial_line(const char *path, int32_t speed);

// Adapter commands, each written whole and flushed at once.
void send_mouse_enable();                // "e"
void send_led_command(unsigned led_bits); // "k", 0xED, LED byte
