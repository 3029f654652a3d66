// End-to-end harness: the real ps2linkd in a private mount namespace.
//
// The daemon's device and file paths are fixed, so each test gives it a
// world of its own (private_world.h, as root or as a normal user): overlays
// over /dev, /etc and /opt whose upper layers are a per-test directory, a pseudo-terminal standing in for the adapter's
// serial line, plain files or FIFOs for the keyboard, touch and framebuffer
// devices, and a recording "loadkmap" on PATH. The test process stays
// outside the namespace and sees the same files through the upper layers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

enum class device_kind { absent, file, fifo };

// Screen memory geometry answered by the framebuffer stand-in.
struct fake_screen {
	unsigned long smem_start = 0;
	uint32_t smem_len = 480 * 640 * 2;
	uint32_t line_length = 960;
	std::string fail_request; // "fix" or "var" to make that request fail
	uint16_t background = 0;  // every pixel of the file at start
};

// A key map small enough to read in a test: "1c a - 1e" style lines.
inline constexpr const char *minimal_key_map = "# test map\n1c a - 1e\n";

struct daemon_config {
	std::vector<std::string> arguments;  // after the program name
	bool serial_option = true;           // append "-p <pty slave>"
	std::optional<std::string> key_map = std::string(minimal_key_map);
	std::optional<std::string> console_key_map = std::string(minimal_key_map);
	std::optional<std::string> pointercal;
	device_kind kbd = device_kind::file;
	device_kind keypipe = device_kind::absent;
	device_kind ts = device_kind::absent;
	std::optional<fake_screen> screen;   // /dev/fb0 absent when empty
	bool layouts = true;                 // /etc/ps2.kmap and /etc/zeta.kmap present
	bool wait_ready = true;              // wait until the daemon reads the line
	std::string program_name = "ps2linkd"; // argv[0]
	// Off: FIFO devices are made but no read end is opened, so the daemon's
	// open() of one waits for a reader that never comes.
	bool fifo_readers = true;
	// On: the loadkmap stand-in also logs whether the serial line is locked
	// while it runs ("held" or "free", one line per run; line_lock_log()).
	bool loadkmap_checks_line = false;
	// Variables of the test library's failing system calls (FAKE_LINE=...,
	// fake_fb.cpp); any makes the harness preload it.
	std::vector<std::string> failing_calls;
	std::string working_directory; // the daemon's; empty: the test's own
	// JOURNAL_STREAM, if not empty: "stdout" names the daemon's standard
	// output (DEV:INO, as systemd sets it); anything else is passed as is.
	std::string journal_stream;
	// More NAME=value entries for the daemon's environment (NOTIFY_SOCKET).
	std::vector<std::string> environment;
};

struct exit_result {
	bool exited = false; // false: killed by a signal or timed out
	int status = -1;     // exit status, or the signal number when killed
};

// Skips the current test (with a message) when this machine cannot give the
// daemon a world of its own (private_world.h): the kernel refused a step, as
// root or as a normal user, and the message says which and why.
#define E2E_REQUIRE_NAMESPACES()                                                   \
	do {                                                                       \
		if (const char *why = ::e2e::namespaces_unavailable())             \
			GTEST_SKIP() << why;                                       \
	} while (0)

[[nodiscard]] const char *namespaces_unavailable();

// One daemon run. Create, start(), talk to it, stop() or wait_exit().
struct daemon_run {
	daemon_config config;
	std::string root;       // per-test directory
	std::string pty_slave;  // the serial device as the daemon sees it
	int pty_master = -1;
	int pid = -1;           // the process started (the parent, with -b)
	int daemon_pid = -1;    // the daemon itself (the detached one, with -b)
	int kbd_reader = -1;    // read ends of FIFOs, opened before start
	int keypipe_reader = -1;
	int ts_reader = -1;

	explicit daemon_run(daemon_config cfg);
	~daemon_run();
	daemon_run(const daemon_run &) = delete;
	daemon_run &operator=(const daemon_run &) = delete;

	// Paths, as the test sees them, of what the daemon sees as /dev/<name>,
	// /etc/<name> and /opt/<name>.
	[[nodiscard]] std::string dev(const std::string &name) const;
	[[nodiscard]] std::string etc(const std::string &name) const;
	[[nodiscard]] std::string opt(const std::string &name) const;
	// The same for any path the daemon sees under /dev, /etc or /opt.
	[[nodiscard]] std::string outside(const std::string &path) const;

	// Starts the daemon; with wait_ready, returns once it is blocked reading
	// the serial line (so the start-up flush is behind it). False when it
	// ended or did not get there in time.
	bool start();
	// Waits until some process (the daemon, or its detached child) is blocked
	// reading the pty slave. Returns that process id, or -1.
	int wait_reading(int timeout_ms = 10000);
	// The adapter pulled out: the link at path (the path the daemon was
	// given) then names nothing (the number of a closed pseudo-terminal is
	// soon another test's), and the terminal hangs up.
	void unplug_line(const std::string &link);
	// The adapter plugged in again: a new pseudo-terminal, linked from
	// the link at path (the path the daemon was given: outside the
	// overlays, which do not see a change made beside them), and, with
	// wait_ready, the daemon seen reading it. False when it did not get
	// there in time.
	bool plug_new_line(const std::string &link, bool wait_ready = true);

	void send(const std::vector<uint8_t> &bytes);
	void send_frame(uint8_t header, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4);
	void send_key_frame(std::vector<uint8_t> codes);  // 'K', count, codes, padding
	void send_mouse_frame(uint8_t status, uint8_t dx, uint8_t dy);
	void send_joystick_frame(uint8_t high, uint8_t low);
	// Frames are read one byte at a time with a 0.1 s timeout, so a test
	// that sends many frames waits until the daemon has consumed them all.
	bool wait_drained(int timeout_ms = 10000);
	// Sends and waits until the daemon has read all of these bytes and is
	// back in read(), so whatever they cause has happened. For a daemon that
	// is past its start-up (ready, or seen by wait_reading()).
	bool send_and_wait(const std::vector<uint8_t> &bytes, int timeout_ms = 10000);
	// Bytes the daemon has read so far (the kernel's count, "rchar").
	[[nodiscard]] long long bytes_read() const;

	// Adapter commands the daemon wrote to the line, read until count bytes
	// arrived or the timeout passed.
	std::vector<uint8_t> read_adapter(std::size_t count, int timeout_ms = 5000);
	// Bytes now waiting on the line from the daemon, without waiting.
	std::vector<uint8_t> read_adapter_pending();

	// Text written to a regular-file device, or read so far from a FIFO.
	std::string device_text(const std::string &name);
	// Waits until the device text has at least length bytes.
	std::string wait_device_text(const std::string &name, std::size_t length,
				     int timeout_ms = 5000);

	std::string stdout_text() const;
	std::string stderr_text() const;
	std::string loadkmap_log() const; // one line per run: the layout it got

	exit_result stop(int signal_number = 15, int timeout_ms = 10000);
	exit_result wait_exit(int timeout_ms = 10000);
	void kill_now();

	// Whether the daemon (the started binary, not the harness's child before
	// exec) sleeps in one of these system calls right now.
	[[nodiscard]] bool in_syscall(std::initializer_list<long> numbers) const;
	// Waits until it does. False when it ended or did not get there in time.
	bool wait_in_syscall(std::initializer_list<long> numbers, int timeout_ms = 10000);
	// Sends the frames over and over until the daemon sleeps in write(): a
	// consumer that stopped reading has filled up.
	bool send_until_blocked_writing(const std::vector<uint8_t> &frames, int timeout_ms = 30000);
	std::string line_lock_log() const; // with loadkmap_checks_line

	// The framebuffer file.
	[[nodiscard]] uint16_t pixel(int column, int row) const;
	void set_pixel(int column, int row, uint16_t value);
	[[nodiscard]] std::vector<uint8_t> framebuffer_bytes() const;

private:
	// Waits until the daemon reads its line, and counts what it reads from
	// there on. False when it never does.
	bool mark_ready();
	// A device the daemon writes: its fixed path, and the read end and the
	// text read so far where it is a FIFO.
	struct output_device {
		std::string path;
		device_kind kind;
		int *reader;
		std::string *seen;
	};
	std::vector<output_device> output_devices();
	output_device output_device_named(const std::string &name); // "kbd"
	std::string fifo_buffer(const std::string &name);
	std::string kbd_seen_, keypipe_seen_, ts_seen_;
	bool exited_ = false;
	long long read_mark_ = -1;       // bytes_read() when start() saw it ready
	long long sent_since_ready_ = 0; // bytes send() wrote since then
	[[nodiscard]] bool config_detaches() const;
	// Reaps the started process if it has ended; true once it has.
	bool started_process_ended();
	// Waits until the daemon has read total bytes in all and is back in read().
	bool wait_taken(long long total, int timeout_ms);
	exit_result result_;
	void prepare();
};

// Runs the daemon with the given arguments to its end (for start-up
// failures and the usage texts): no waiting for readiness.
exit_result run_to_end(daemon_run &run, int timeout_ms = 10000);

// Monotonic milliseconds, and a pause of so many, for polling loops (the
// clock of wait_until.h, which the harness's own waits are built on).
long long now_ms();
void pause_ms(int ms);

// What the daemon prints when a stop signal ends it, in EUC-JP.
std::string signal_text(int signal_number);

// Adapter frames as bytes on the line, built by the daemon's own builders
// (serial/frame_payload.h): any header and payload; a keyboard frame of up
// to three scan-code bytes; a mouse frame of its status and movement bytes;
// a joystick frame.
std::vector<uint8_t> frame_bytes(uint8_t header, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4);
std::vector<uint8_t> key_frame(std::vector<uint8_t> codes);
std::vector<uint8_t> mouse_frame(uint8_t status, uint8_t dx, uint8_t dy);
std::vector<uint8_t> joystick_frame(uint8_t high, uint8_t low);

// The whole content of a file, empty when it cannot be read.
std::string read_text(const std::string &path);

// Bytes of text, for exact comparisons with embedded NULs.
std::string bytes_text(const std::vector<uint8_t> &bytes);

} // namespace e2e
