// ps2sim: plays the serial adapter for ps2linkd, from a readable script.
//
// The daemon expects a piece of hardware on its serial line that sends
// six-byte frames for keys, mouse motion and joystick buttons, and takes
// back the mouse-enable and set-LEDs commands. This program stands in for
// it on a pseudo-terminal (or a real serial port): it waits until the
// daemon has configured the line and sits reading it, sends the frames a
// script asks for, waits after each one until the daemon (and, if asked,
// the readers of its output devices) have dealt with it, and shows every
// frame beside what came out of it.
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "capture.h"
#include "checked_output.h"
#include "proc_watch.h"
#include "serial/frame_payload.h"
#include "serial/serial_line.h"
#include "set2_encoding.h"
#include "sim_script.h"
#include "tool_usage.h"
#include "wait_until.h"

namespace {

// "4B 01 1C": bytes in hexadecimal, for the rows of the run.
std::string hex_bytes(std::span<const uint8_t> bytes)
{
	message_text text;
	append_hex(text, bytes);
	return std::string(view_of(text));
}

const char *const usage_text =
	"Usage: ps2sim [-l LINK | -p DEVICE [-s SPEED]] [-r PATH] [-w PATH]...\n"
	"              [-e [LABEL=]FILE]... [-d MS] [-t SECONDS] [-n]\n"
	"              SCRIPT | --replay CAPTURE\n"
	"Plays the serial adapter of ps2linkd: sends the keyboard, mouse and\n"
	"joystick frames that SCRIPT (a file, or - for standard input) asks for,\n"
	"or the bytes of a capture that ps2trace recorded, and shows the adapter\n"
	"commands that come back.\n"
	"\n"
	"  -l LINK     open a pseudo-terminal pair and make LINK a symbolic link\n"
	"              to its slave side; start the daemon with -p on that path\n"
	"  -p DEVICE   use this serial device instead (8N1, raw)\n"
	"  -s SPEED    line speed for -p: 9600 (default), 19200, 38400 or 57600\n"
	"  -r PATH     the device the daemon reads: wait until a process reads\n"
	"              it before the script starts, and after every frame until\n"
	"              it has taken the frame (default with -l: the slave side)\n"
	"  -w PATH     after every frame also wait until the processes reading\n"
	"              PATH (a FIFO such as /dev/kbd) are waiting for input again\n"
	"  -e FILE     after every frame show the lines added to FILE (an event\n"
	"              log) beside it, labelled LABEL when given as LABEL=FILE\n"
	"  -d MS       wait this long after every frame, for people watching\n"
	"  -t SECONDS  give up when the daemon keeps us waiting longer (10)\n"
	"  -n          no waiting for people: ignore -d and pause lines, and play\n"
	"              a capture as fast as the line allows\n"
	"  --replay CAPTURE  send the capture's pieces at their recorded pace\n"
	"              (each after the same time as in the recording), showing\n"
	"              each beside what came of it\n"
	"\n"
	"Script lines (one action per line, # starts a comment):\n"
	"  say TEXT             print TEXT as a heading\n"
	"  type TEXT            type TEXT on a US keyboard (\\n Enter, \\t Tab)\n"
	"  key KEY down|up      press or release one key\n"
	"  tap KEY              press and release one key\n"
	"  mouse DX DY [left]   move the mouse (-256..255; +Y is up)\n"
	"  joy BUTTONS          joystick button word, bit i = button i (0x0003)\n"
	"  raw XX XX ...        send these bytes as they are\n"
	"  pause N[ms|s]        wait (for people watching)\n"
	"KEY is a key name, a set-2 code in hex (1c), or e0 and a code (e0 75).\n"
	"Key names:";

// The layout of a shown line: what was sent on the left, what came of it
// on the right.
constexpr int left_width = 46;

// ---------------------------------------------------------------- settings

struct settings {
	const char *link_path = nullptr;
	const char *device_path = nullptr;
	int speed = 9600;
	const char *daemon_path = nullptr;
	std::vector<const char *> watch_paths;
	std::vector<const char *> log_specs;
	long frame_delay_ms = 0;
	long timeout_s = 10;
	bool for_people = true;
	const char *script_path = nullptr;
	const char *capture_path = nullptr;
};

settings options;

[[noreturn]] void usage(int status)
{
	FILE *out = status == 0 ? stdout : stderr;
	fputs(usage_text, out);
	int column = 0;
	for (std::string_view name : key_names()) {
		if (column + 1 + static_cast<int>(name.size()) > 74) {
			fputs("\n ", out);
			column = 1;
		}
		column += fprintf(out, " %.*s", static_cast<int>(name.size()), name.data());
	}
	fputc('\n', out);
	exit(status);
}

[[noreturn]] void fail(const char *what, const char *object)
{
	fprintf(stderr, "ps2sim: %s %s: %s\n", what, object, strerror(errno));
	exit(1);
}

// -------------------------------------------------------------- the line

int line_fd = -1;
int slave_keeper_fd = -1; // keeps a pseudo-terminal's slave side in being
std::string daemon_device;

void make_raw(int fd, speed_t speed)
{
	termios t{};
	if (tcgetattr(fd, &t) == -1)
		return; // not a terminal at all: bytes pass unchanged anyway
	cfmakeraw(&t);
	t.c_cflag |= CLOCAL | CREAD;
	t.c_cc[VMIN] = 1;
	t.c_cc[VTIME] = 0;
	(void)cfsetispeed(&t, speed);
	(void)cfsetospeed(&t, speed);
	(void)tcsetattr(fd, TCSANOW, &t); // a pseudo-terminal refuses nothing here
}

// A link of ours points at a pseudo-terminal's slave side; anything else
// at LINK's path belongs to someone else and is left alone.
bool is_our_kind_of_link(const char *path)
{
	char target[256];
	ssize_t length = readlink(path, target, sizeof target - 1);
	if (length <= 0)
		return false;
	target[length] = '\0';
	return strncmp(target, "/dev/pts/", 9) == 0;
}

void refuse_foreign_link_path()
{
	struct stat st {};
	if (lstat(options.link_path, &st) == 0 && !is_our_kind_of_link(options.link_path)) {
		fprintf(stderr, "ps2sim: -l %s: the path exists and is no link of ours to a "
				"pseudo-terminal; it is left alone\n", options.link_path);
		exit(1);
	}
}

// At exit the link would point at nothing: removed, if it is still ours.
void remove_link()
{
	char target[256];
	ssize_t length = readlink(options.link_path, target, sizeof target - 1);
	if (length > 0 && daemon_device.compare(0, std::string::npos, target,
						static_cast<std::size_t>(length)) == 0)
		(void)unlink(options.link_path);
}

// A pseudo-terminal pair. The daemon gets the slave side, we keep the
// master; both are made raw so that every byte, 0x00 and 0xED included,
// passes unchanged until the daemon sets its own line settings.
void open_pseudo_terminal()
{
	line_fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	if (line_fd == -1)
		fail("cannot open", "a pseudo-terminal");
	if (grantpt(line_fd) == -1 || unlockpt(line_fd) == -1)
		fail("cannot unlock", "the pseudo-terminal");
	const char *slave = ptsname(line_fd);
	if (!slave)
		fail("cannot name", "the pseudo-terminal's slave side");
	daemon_device = slave;
	make_raw(line_fd, B9600);
	slave_keeper_fd = open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
	if (slave_keeper_fd == -1)
		fail("cannot open", slave);
	make_raw(slave_keeper_fd, B9600);

	// Publish the slave's path atomically: a link under a temporary name,
	// renamed over the wanted one (ours from an earlier run, or nothing).
	refuse_foreign_link_path();
	std::string temporary = std::string(options.link_path) + ".new";
	(void)unlink(temporary.c_str()); // a leftover from an earlier run, if any
	if (symlink(slave, temporary.c_str()) == -1)
		fail("cannot create the link", temporary.c_str());
	if (rename(temporary.c_str(), options.link_path) == -1)
		fail("cannot create the link", options.link_path);
	atexit(remove_link);
	struct sigaction action {};
	action.sa_handler = [](int) {
		remove_link(); // readlink and unlink: safe in a handler
		_exit(1);
	};
	sigaction(SIGINT, &action, nullptr);
	sigaction(SIGTERM, &action, nullptr);
	sigaction(SIGHUP, &action, nullptr);
	printf("ps2sim: adapter on %s, linked at %s\n", slave, options.link_path);
}

void open_serial_device()
{
	line_fd = open(options.device_path, O_RDWR | O_NOCTTY | O_CLOEXEC);
	if (line_fd == -1)
		fail("cannot open", options.device_path);
	// The daemon's own table: any speed it does not honour runs at 9600.
	make_raw(line_fd, speed_constant(options.speed));
	printf("ps2sim: adapter on %s\n", options.device_path);
}

void send_bytes(const uint8_t *bytes, std::size_t count)
{
	while (count > 0) {
		ssize_t written = write(line_fd, bytes, count);
		if (written == -1) {
			if (errno == EINTR)
				continue;
			fail("cannot write to", daemon_device.c_str());
		}
		bytes += written;
		count -= static_cast<std::size_t>(written);
	}
}

// ------------------------------------------------- what comes back to us

// The adapter commands the daemon writes, decoded a byte at a time: the
// mouse-enable command is one byte; the light command's bytes are collected
// until they are whole, or until one disagrees with it. An unexpected byte
// is reported and the decoder starts again with the next.
struct command_decoder {
	std::vector<uint8_t> bytes; // the light command collected so far
};

command_decoder decoder;

std::string light_text(uint8_t leds)
{
	std::string text = "lights: NumLock ";
	text += (leds & led_num_lock) ? "on" : "off";
	text += ", Caps ";
	text += (leds & led_caps_lock) ? "on" : "off";
	if (leds & 0x01)
		text += ", Scroll on";
	if (leds & ~0x07)
		text += " (stray bits)";
	return text;
}

void add_command_text(std::vector<std::string> &results, const std::string &bytes,
		      const std::string &meaning)
{
	char text[160];
	snprintf(text, sizeof text, "serial  %-10s %s", bytes.c_str(), meaning.c_str());
	results.emplace_back(text);
}

void decode_command_byte(uint8_t byte, std::vector<std::string> &results)
{
	if (decoder.bytes.empty() && byte == mouse_enable_command) {
		add_command_text(results, hex_bytes(std::span<const uint8_t>(&byte, 1)),
				 "mouse enable (\"e\")");
		return;
	}
	decoder.bytes.push_back(byte);
	const std::size_t matched = light_command_match(decoder.bytes);
	const std::string hex = hex_bytes(decoder.bytes);
	if (matched == light_command_size) {
		light_command command{};
		std::copy(decoder.bytes.begin(), decoder.bytes.end(), command.begin());
		add_command_text(results, hex,
				 "set LEDs, " + light_text(static_cast<uint8_t>(light_bits_of(command))));
	} else if (matched < decoder.bytes.size()) {
		add_command_text(results, hex,
				 matched == 0 ? "unexpected byte" : "unexpected: \"k\" not followed by ED");
	} else {
		return; // more to come
	}
	decoder.bytes.clear();
}

// Takes whatever the daemon has written to the line so far. A read that
// finds nothing waiting lets the pseudo-terminal pass on anything still in
// transit first, so nothing the daemon wrote before it went back to
// reading is missed.
void take_commands(std::vector<std::string> &results)
{
	for (;;) {
		pollfd p{line_fd, POLLIN, 0};
		if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN))
			return;
		uint8_t buffer[64];
		ssize_t got = read(line_fd, buffer, sizeof buffer);
		if (got <= 0)
			return;
		for (ssize_t i = 0; i < got; ++i)
			decode_command_byte(buffer[i], results);
	}
}

// Event logs written by the readers of the daemon's output devices.
struct followed_log {
	std::string label;
	std::string path;
	int fd = -1;
	std::string partial; // a line not yet complete
};

std::vector<followed_log> logs;

void open_logs()
{
	for (const char *entry : options.log_specs) {
		followed_log log;
		const char *equals = strchr(entry, '=');
		log.path = equals ? equals + 1 : entry;
		if (equals)
			log.label = std::string(entry, equals) + ": ";
		log.fd = open(log.path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
		if (log.fd == -1)
			fail("cannot open the event log", log.path.c_str());
		logs.push_back(std::move(log));
	}
}

void take_log_lines(std::vector<std::string> &results)
{
	for (followed_log &log : logs) {
		char buffer[4096];
		ssize_t got;
		while ((got = read(log.fd, buffer, sizeof buffer)) > 0)
			log.partial.append(buffer, static_cast<std::size_t>(got));
		std::size_t start = 0;
		std::size_t newline;
		while ((newline = log.partial.find('\n', start)) != std::string::npos) {
			results.push_back(log.label + log.partial.substr(start, newline - start));
			start = newline + 1;
		}
		log.partial.erase(0, start);
	}
}

// ------------------------------------------------------------- waiting

file_id daemon_file;
bool watching_daemon = false;
long long daemon_read_base = 0; // its byte count when it first sat reading
long long bytes_sent = 0;

// The longest the daemon or a reader may keep us waiting; every wait polls
// its condition, never assumes it after a fixed time, and polls less often
// while nothing moves (wait_with_backoff).
int timeout_ms()
{
	return static_cast<int>(options.timeout_s * 1000);
}

// A process that reads a watched file, and its descriptors of that file.
struct watched_reader {
	pid_t pid = 0;
	std::vector<int> fds;
	const char *path = nullptr;
};

watched_reader daemon_reader;
std::vector<watched_reader> output_readers;

// True when the process sits in read() on one of the descriptors, or (when
// a poll-style wait is allowed) in any call that waits for input.
bool reads_one_of(const watched_reader &reader, bool poll_allowed)
{
	call_snapshot call = current_call(reader.pid);
	if (!waits_for_input(call))
		return false;
	if (!reads_directly(call))
		return poll_allowed;
	for (int fd : reader.fds)
		if (fd == call.first_argument)
			return true;
	return false;
}

// The bytes waiting unread in the pipe that a process's descriptor refers
// to; 0 for a descriptor of anything else, -1 when it cannot be told (the
// process has gone). The FIFO is opened anew through /proc for a moment:
// one more reader, which the writer does not notice.
long unread_bytes(pid_t pid, int fd)
{
	char path[64];
	snprintf(path, sizeof path, "/proc/%d/fd/%d", static_cast<int>(pid), fd);
	int peek = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (peek == -1)
		return -1;
	struct stat st {};
	int waiting = 0;
	bool known = fstat(peek, &st) == 0 &&
		     (!S_ISFIFO(st.st_mode) || ioctl(peek, FIONREAD, &waiting) == 0);
	(void)close(peek); // opened only to look
	return known ? waiting : -1;
}

// The reader has taken everything written to the file so far: its pipe is
// empty, and after that it sits waiting for input again. Waiting alone is
// not enough: for a moment after a write the reader is still seen asleep in
// read() with the bytes already in its pipe, before its wake-up. And the
// order matters: a reader seen asleep before its pipe was seen empty may
// have woken in between and still be busy with what it took.
bool has_taken_all(const watched_reader &reader)
{
	return unread_bytes(reader.pid, reader.fds.front()) == 0 && reads_one_of(reader, true);
}

// The processes other than us and the daemon that have the file open for
// reading, each with its descriptors of it.
std::vector<watched_reader> readers_of(const char *path, const file_id &file, pid_t except)
{
	std::vector<watched_reader> readers;
	const file_holders found = holders_of(file);
	for (const file_holder &holder : listed(found)) {
		if (holder.access == O_WRONLY || holder.pid == except)
			continue;
		auto known = std::find_if(readers.begin(), readers.end(),
					  [&](const watched_reader &r) { return r.pid == holder.pid; });
		if (known == readers.end())
			readers.push_back(watched_reader{holder.pid, {holder.fd}, path});
		else
			known->fds.push_back(holder.fd);
	}
	return readers;
}

// Before the script starts: some other process has the daemon's device
// open and sits in read() on it. The daemon configures the line, waits a
// second, throws away what arrived meanwhile and only then starts reading,
// so anything sent earlier would be lost.
void wait_for_daemon()
{
	printf("ps2sim: waiting for a process to read %s ...\n", daemon_device.c_str());
	fflush(stdout);
	// Nobody may come for seconds: the tries slow down while the line's
	// openers stay the same, and speed up again when one comes or goes
	// (the daemon opens the line a second before it reads it).
	std::size_t openers_seen = 0;
	bool found = wait_with_backoff(timeout_ms(), [&openers_seen] {
		std::vector<watched_reader> readers = readers_of(daemon_device.c_str(), daemon_file, 0);
		for (const watched_reader &reader : readers) {
			if (!reads_one_of(reader, false))
				continue;
			daemon_read_base = bytes_read_by(reader.pid);
			if (daemon_read_base < 0)
				continue;
			daemon_reader = reader;
			return wait_check::holds;
		}
		const bool moved = readers.size() != openers_seen;
		openers_seen = readers.size();
		return moved ? wait_check::changed : wait_check::unchanged;
	});
	if (found) {
		printf("ps2sim: %s (pid %d) reads the line\n", c_text(command_of(daemon_reader.pid)),
		       static_cast<int>(daemon_reader.pid));
		return;
	}
	fprintf(stderr, "ps2sim: nobody started reading %s within %ld s\n", daemon_device.c_str(),
		options.timeout_s);
	exit(1);
}

// Once the daemon reads its line it has opened its output devices, and
// their open waited for their readers: the readers are all there now.
void find_output_readers()
{
	for (const char *path : options.watch_paths) {
		file_id file;
		if (!file_id_of(path, file)) {
			fprintf(stderr, "ps2sim: cannot watch %s: %s\n", path, strerror(errno));
			exit(1);
		}
		for (const watched_reader &reader : readers_of(path, file, daemon_reader.pid))
			output_readers.push_back(reader);
	}
}

// After a frame: the daemon has read every byte sent so far and is back in
// read(). It handles each frame completely before it reads again, so all
// it made of the frame (key events, touch lines, commands) is out by then.
void wait_for_daemon_to_take_all()
{
	long long taken_seen = -1;
	bool taken_all = wait_with_backoff(timeout_ms(), [&taken_seen] {
		long long taken = bytes_read_by(daemon_reader.pid);
		if (taken < 0) {
			fprintf(stderr, "ps2sim: the daemon (pid %d) has gone away\n",
				static_cast<int>(daemon_reader.pid));
			exit(1);
		}
		if (taken - daemon_read_base >= bytes_sent && reads_one_of(daemon_reader, false))
			return wait_check::holds;
		const bool moved = taken != taken_seen;
		taken_seen = taken;
		return moved ? wait_check::changed : wait_check::unchanged;
	});
	if (taken_all)
		return;
	fprintf(stderr, "ps2sim: the daemon did not take the frame within %ld s\n", options.timeout_s);
	exit(1);
}

// After the daemon: every reader of the watched files has taken and shown
// what the daemon wrote. A reader that has ended is no longer waited for.
void wait_for_readers()
{
	for (const watched_reader &reader : output_readers) {
		long unread_seen = -1;
		if (!wait_with_backoff(timeout_ms(), [&reader, &unread_seen] {
			    if (has_taken_all(reader) || current_call(reader.pid).state == call_state::gone)
				    return wait_check::holds;
			    const long unread = unread_bytes(reader.pid, reader.fds.front());
			    const bool moved = unread != unread_seen;
			    unread_seen = unread;
			    return moved ? wait_check::changed : wait_check::unchanged;
		    })) {
			fprintf(stderr, "ps2sim: the reader of %s (pid %d) is stuck\n", reader.path,
				static_cast<int>(reader.pid));
			exit(1);
		}
	}
}

void pause_ms(long ms)
{
	if (!options.for_people || ms <= 0)
		return;
	timespec t{ms / 1000, (ms % 1000) * 1'000'000};
	while (nanosleep(&t, &t) == -1 && errno == EINTR) {
	}
}

// ------------------------------------------------------------- showing

void show_row(const std::string &left, const std::vector<std::string> &right)
{
	if (right.empty()) {
		printf("%s\n", left.c_str());
		return;
	}
	for (std::size_t i = 0; i < right.size(); ++i)
		printf("%-*s| %s\n", left_width, i == 0 ? left.c_str() : "", right[i].c_str());
}

// Hands a script line's frames to the line, one at a time: send, wait
// until the daemon and the readers are done with it, show what came out.
void deliver(std::span<const uint8_t> bytes, std::string_view meaning)
{
	send_bytes(bytes.data(), bytes.size());
	bytes_sent += static_cast<long long>(bytes.size());
	std::vector<std::string> results;
	if (watching_daemon) {
		wait_for_daemon_to_take_all();
		wait_for_readers();
	}
	take_commands(results);
	take_log_lines(results);
	show_row("  " + hex_bytes(bytes) + "  " + std::string(meaning), results);
	fflush(stdout);
	pause_ms(options.frame_delay_ms);
}

void say(std::string_view text)
{
	printf("\n%.*s\n", static_cast<int>(text.size()), text.data());
}

// The script or the capture, read and checked whole before the line is
// opened: an error never leaves a key held down in the daemon, nor waits
// for a reader first. A capture in a regular file is then read a second
// time as it is played, so that a long one is never held in memory; one
// that can be read only once (standard input, a FIFO) is held.
std::vector<std::string> script_lines;
// A piece of a capture held in memory, for one that cannot be read twice.
struct held_piece {
	long long micros = 0;
	std::vector<uint8_t> bytes;
};
std::vector<held_piece> held_pieces;
int capture_fd = -1;
std::string capture_name;
bool capture_streamed = false;
bool capture_started = false;
long long first_micros = 0; // the first piece's time
long long replay_start_ms = 0;

[[noreturn]] void refuse_script(int line_number, const std::string &why)
{
	fprintf(stderr, "ps2sim: %s:%d: %s\n", options.script_path, line_number, why.c_str());
	exit(2);
}

void load_script()
{
	FILE *script = strcmp(options.script_path, "-") == 0 ? stdin : fopen(options.script_path, "r");
	if (!script)
		fail("cannot open the script", options.script_path);
	// A player that sends nothing: each line is run once to check it.
	const script_player checker;
	char *buffer = nullptr;
	std::size_t size = 0;
	ssize_t length;
	while ((length = getline(&buffer, &size, script)) != -1) {
		std::string line(buffer, static_cast<std::size_t>(length));
		while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
			line.pop_back();
		int line_number = static_cast<int>(script_lines.size()) + 1;
		script_error error = run_script_line(checker, line);
		if (error.failed)
			refuse_script(line_number, std::string(view_of(error.message)));
		script_lines.push_back(std::move(line));
	}
	free(buffer);
	if (ferror(script))
		fail("cannot read the script", options.script_path);
	if (script != stdin)
		(void)fclose(script); // read only
}

// The check's taker: the first piece's time is kept, and the pieces of a
// capture that cannot be read again.
void note_piece(const capture_chunk &chunk, void *)
{
	if (!capture_started) {
		first_micros = chunk.micros;
		capture_started = true;
	}
	if (!capture_streamed)
		held_pieces.push_back(held_piece{chunk.micros, {chunk.bytes.begin(), chunk.bytes.begin() + static_cast<std::ptrdiff_t>(chunk.length)}});
}

void load_capture()
{
	const bool from_stdin = strcmp(options.capture_path, "-") == 0;
	capture_name = from_stdin ? "standard input" : options.capture_path;
	capture_fd = from_stdin ? 0 : open(options.capture_path, O_RDONLY | O_CLOEXEC);
	if (capture_fd == -1) {
		fprintf(stderr, "ps2sim: %s: %s\n", capture_name.c_str(), strerror(errno));
		exit(2);
	}
	struct stat st {};
	capture_streamed = fstat(capture_fd, &st) == 0 && S_ISREG(st.st_mode);
	message_text error;
	if (!read_capture_from(capture_fd, capture_name, note_piece, nullptr, error)) {
		fprintf(stderr, "ps2sim: %s\n", c_text(error));
		exit(2);
	}
}

void run_script()
{
	script_player player;
	player.send = [](std::span<const uint8_t> bytes, std::string_view meaning, void *) {
		deliver(bytes, meaning);
	};
	player.say = [](std::string_view text, void *) { say(text); };
	player.pause = [](long ms, void *) { pause_ms(ms); };
	for (const std::string &line : script_lines)
		(void)run_script_line(player, line); // checked before
}

// A capture, piece by piece: each sent when as much time has passed since
// the first as in the recording (unless -n), and the daemon waited for as
// after a script's frame.
void deliver_piece(long long micros, std::span<const uint8_t> bytes)
{
	long long offset_us = micros - first_micros;
	pause_ms(static_cast<long>(replay_start_ms + offset_us / 1000 - monotonic_ms()));
	char meaning[48];
	snprintf(meaning, sizeof meaning, "at %lld.%06lld s", offset_us / 1'000'000,
		 offset_us % 1'000'000);
	deliver(bytes, meaning);
}

void replay_capture()
{
	replay_start_ms = monotonic_ms();
	if (!capture_streamed) {
		for (const held_piece &piece : held_pieces)
			deliver_piece(piece.micros, piece.bytes);
		return;
	}
	message_text error;
	if (lseek(capture_fd, 0, SEEK_SET) == -1)
		fail("cannot rewind the capture", capture_name.c_str());
	const capture_taker deliver_chunk = [](const capture_chunk &chunk, void *) {
		deliver_piece(chunk.micros, bytes_of(chunk));
	};
	if (!read_capture_from(capture_fd, capture_name, deliver_chunk, nullptr, error)) {
		fprintf(stderr, "ps2sim: %s (the capture changed while it was played)\n", c_text(error));
		exit(2);
	}
}

// ------------------------------------------------------------------ main

void parse_arguments(int argc, char **argv)
{
	static const option long_options[] = {
		{"replay", required_argument, nullptr, 'R'},
		{"help", no_argument, nullptr, 'h'},
		{nullptr, 0, nullptr, 0},
	};
	const char *program = "ps2sim";
	int letter;
	while ((letter = getopt_long(argc, argv, ":l:p:s:r:w:e:d:t:nh", long_options, nullptr)) != -1) {
		long value = 0;
		switch (letter) {
		case 'l': options.link_path = optarg; break;
		case 'p': options.device_path = optarg; break;
		case 's':
			if (!parse_int(optarg, 0, 1'000'000, value))
				refuse_usage(program, std::string("-s ") + optarg +
							      ": a speed is a number of bits per second");
			options.speed = static_cast<int>(value);
			break;
		case 'r': options.daemon_path = optarg; break;
		case 'w': options.watch_paths.push_back(optarg); break;
		case 'e': options.log_specs.push_back(optarg); break;
		case 'd':
			if (!parse_int(optarg, 0, 60'000, value))
				refuse_usage(program, std::string("-d ") + optarg + ": 0 to 60000 ms");
			options.frame_delay_ms = value;
			break;
		case 't':
			if (!parse_int(optarg, 1, 3600, value))
				refuse_usage(program, std::string("-t ") + optarg + ": 1 to 3600 seconds");
			options.timeout_s = value;
			break;
		case 'n': options.for_people = false; break;
		case 'R': options.capture_path = optarg; break;
		case 'h': usage(0);
		default: refuse_option(program, letter, argv);
		}
	}
	int scripts = options.capture_path ? 0 : 1;
	if (optind + scripts > argc)
		refuse_usage(program, "no SCRIPT given (nor --replay CAPTURE)");
	if (optind + scripts < argc)
		refuse_usage(program, std::string("unexpected argument ") + argv[optind + scripts]);
	if (!options.link_path == !options.device_path)
		refuse_usage(program, "give one of -l LINK and -p DEVICE");
	if (scripts)
		options.script_path = argv[optind];
}

} // namespace

int main(int argc, char **argv)
{
	check_standard_output_at_exit("ps2sim");
	// Lines must reach a pipe or a log as they are made, not at exit.
	setvbuf(stdout, nullptr, _IOLBF, 0);
	parse_arguments(argc, argv);
	if (options.capture_path)
		load_capture();
	else
		load_script();

	if (options.link_path)
		open_pseudo_terminal();
	else
		open_serial_device();
	if (options.daemon_path)
		daemon_device = options.daemon_path;
	open_logs();

	if (!daemon_device.empty() && file_id_of(daemon_device.c_str(), daemon_file)) {
		watching_daemon = true;
		wait_for_daemon();
		find_output_readers();
	} else {
		printf("ps2sim: not waiting for the daemon: frames are paced by the script alone\n");
	}

	std::vector<std::string> results;
	if (watching_daemon)
		wait_for_readers();
	take_commands(results);
	take_log_lines(results);
	printf("\n%-*s| %s\n", left_width, "  frames sent to the daemon", "what came out of them");
	printf("  %s+%s\n", std::string(left_width - 2, '-').c_str(), std::string(40, '-').c_str());
	if (!results.empty())
		show_row("  (start-up)", results);

	if (options.capture_path)
		replay_capture();
	else
		run_script();
	if (slave_keeper_fd != -1)
		(void)close(slave_keeper_fd); // the daemon holds its own descriptors
	return 0;
}
