// The serial line to the adapter.
//
// The adapter sits on one of the handheld's UARTs. At start-up the daemon
// opens the device, takes an exclusive lock so that a second copy cannot
// share it, puts the line into raw 8N1 mode at the chosen speed, raises DTR
// to power the adapter, waits for it to settle and throws away whatever it
// sent meanwhile. Bytes are then read one at a time with a 0.1 s timeout;
// the commands back to the adapter go through a second, write-only stdio
// stream on the same device. A line that is lost (a USB serial adapter
// pulled out) is closed, and the same path is opened again the same way,
// quietly, once it is back. The path is made absolute at start-up, since
// a daemon in the background has left its working directory for /.
#pragma once

#include <array>
#include <climits>
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

// The path the line is opened by, at start-up and after a lost line: the
// -p path as given when it is absolute, else with the working directory of
// start-up put before it (links are kept, not resolved: a link by the
// adapter's serial number finds it again under a new device name). Empty
// until start-up keeps it. A record apart from serial_line, whose -1 puts
// it in the daemon's file: this one's 4 KB stay zero-filled memory.
struct serial_path_state {
	std::array<char, PATH_MAX> line_path{};
};
extern serial_path_state serial_path;

// No line, no command stream: the state before start-up. Nothing is closed.
void reset_serial_line();

// Keeps path in serial_path.line_path, made absolute. A path that cannot
// be made absolute (no working directory, or too long with it) is kept as
// given; one too long to keep at all is kept empty, which no open finds,
// as none would find it as given.
void keep_line_path(const char *path);

// What differs between the open at start-up and the open after a lost line.
enum class line_open : uint8_t {
	// The open waits as long as the device makes it (a stop signal cuts it
	// short); each failing step prints its message, except a held lock;
	// a descriptor opened stays in serial_line.serial_fd when a later step
	// fails, for the exit to close.
	at_start_up,
	// The open does not wait for a carrier (a USB serial line comes back
	// without CLOCAL and would never give one); nothing is printed; a step
	// that fails closes the descriptor again, ready for the next try.
	again,
};

// Opens the line at path, locks it, and sets its mode, DTR and settle time
// (the steps below, in that order). 0, or -1 when a step fails.
[[nodiscard]] int open_serial_line(const char *path, int32_t speed, line_open how);

// The steps of setting up an open line, each on its own for a caller that
// opens the line in a way of its own (ps2trace).
//
// Raw 8N1 at speed, no echo, no flow control; reads return after 0.1 s on
// an idle line. Null when set, or the message of the request that failed.
[[nodiscard]] const char *set_line_mode(int fd, int32_t speed);
// DTR high: the adapter takes its power and its go-ahead from it.
void raise_dtr(int fd);
// One second for the adapter to wake up, then its start-up noise thrown away.
void settle_line(int fd);

// The command stream to the adapter: the device at path opened again for
// writing, as a stdio stream, into serial_line.adapter_out; never created.
// 0, or -1 (printing nothing) when it cannot be opened, or when what it
// opened is not the device of serial_line.serial_fd: the path may name
// another device by now (a link repointed, a pseudo-terminal's number
// taken by another program), and commands must reach the line that is
// read and locked.
[[nodiscard]] int open_adapter_stream(const char *path);

// The termio speed constant for a speed in bits per second: 19200, 38400
// and 57600 are honoured, every other value runs the line at 9600.
[[nodiscard]] unsigned speed_constant(int32_t speed);

// What one read of the line gave.
enum class serial_read_kind : uint8_t {
	byte, // a byte came
	idle, // none came: the line was idle for its 0.1 s, or a stop is pending
	lost, // the line is gone: its reads fail with EIO, or it hung up
};
struct serial_read {
	serial_read_kind kind = serial_read_kind::idle;
	uint8_t byte = 0; // with serial_read_kind::byte
	// With serial_read_kind::idle: the monotonic clock when the empty read
	// ended (monotonic_clock.h), read for its pacing anyway; 0 when a
	// pending stop cut the read short.
	int64_t idle_end_ns = 0;
};

// The next byte from the line, if one came. A line that fails every read at
// once without being gone reads as idle at most ten times a second.
[[nodiscard]] serial_read read_serial_byte();

// A lost line given up, or the exit: the line and the command stream closed.
void close_serial_line();

// Adapter commands, each written whole and flushed at once.
void send_mouse_enable();                // "e"
void send_led_command(unsigned led_bits); // "k", 0xED, LED byte
