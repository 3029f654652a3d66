// ps2trace: the adapter's traffic, one line per frame, decoded.
//
// Between the adapter and ps2linkd there is nothing to look at but bytes.
// This program reads them (from a capture, standard input or the serial
// line itself), finds the frames with the daemon's own frame reader and
// says what each one means: the keyboard's scan codes and key, the mouse's
// buttons and motion, the joystick's buttons; bad checksums and bytes
// skipped while seeking a frame start show as such. Given the key map and
// the daemon's options it also runs every frame through the daemon's own
// handlers, with their output streams in memory, and shows the events the
// daemon would emit and the key map line behind each. It can record what
// it reads as a capture (capture.h) for ps2sim --replay.
#include <fcntl.h>
#include <getopt.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture.h"
#include "core/settings.h"
#include "daemon/frame_loop.h"
#include "daemon/in_process.h"
#include "daemon/options.h"
#include "daemon/startup.h"
#include "joystick/joystick_frame.h"
#include "keyboard/key_map.h"
#include "output/input_event_record.h"
#include "output/key_stream.h"
#include "keyboard/keyboard_frame.h"
#include "pointer/calibration.h"
#include "pointer/mouse_frame.h"
#include "output/touch_text.h"
#include "proc_watch.h"
#include "serial/frame_payload.h"
#include "serial/serial_line.h"
#include "set2_encoding.h"
#include "tool_usage.h"
#include "sim_script.h"
#include "wait_until.h"

namespace {

const char *const usage_text =
	"Usage: ps2trace [-p DEVICE [-s SPEED] | FILE] [-m KEYMAP [-M] [-x] [-c] [-V|-u]\n"
	"                [-P CALIBRATION]] [-w CAPTURE] [-q]\n"
	"Shows the serial adapter's traffic to ps2linkd, one line per frame: its six\n"
	"bytes, then what they mean. FILE is a capture (ps2link-capture(5)) or raw\n"
	"bytes as they came off the line; standard input when neither FILE nor -p\n"
	"is given.\n"
	"\n"
	"  -p DEVICE       read the serial line itself, read-only, with the daemon's\n"
	"                  line settings; refused while another process (ps2linkd)\n"
	"                  holds the line. Ends when the line hangs up, or on\n"
	"                  SIGINT or SIGTERM\n"
	"  -s SPEED        the line's speed: 9600 (default), 19200, 38400 or 57600\n"
	"  -m KEYMAP       also show the events ps2linkd would emit, worked out by\n"
	"                  its own code with this key map, and the key map line\n"
	"                  behind each key\n"
	"  -M -x -c -V -u  with -m: the daemon's options of those letters (-u: the\n"
	"                  input device events, one report a line)\n"
	"  -P CALIBRATION  with -m: the touch calibration (default /etc/pointercal\n"
	"                  when it can be read)\n"
	"  -w CAPTURE      also record what is read as a capture (- for standard\n"
	"                  output, which implies -q)\n"
	"  -q              show no frames (to record only)\n"
	"A terminal given as FILE is read as with -p.\n";

// Where the meaning of a frame ends and the daemon's events begin.
constexpr int meaning_width = 36;

struct settings {
	const char *device_path = nullptr;
	int32_t speed = default_serial_speed;
	const char *file_path = nullptr;
	const char *key_map_path = nullptr;
	std::vector<std::string> daemon_options;
	const char *calibration_path = nullptr;
	const char *record_path = nullptr;
	bool quiet = false;
};

settings options;

volatile sig_atomic_t stop_requested = 0;

void note_stop(int)
{
	stop_requested = 1;
}

[[noreturn]] void usage(int status)
{
	fputs(usage_text, status == 0 ? stdout : stderr);
	exit(status);
}

[[noreturn]] void fail(const std::string &what)
{
	fprintf(stderr, "ps2trace: %s\n", what.c_str());
	exit(1);
}

std::string errno_text(const char *object)
{
	return std::string(object) + ": " + strerror(errno);
}

// ------------------------------------------------- the daemon, in memory

// The daemon's output streams, pointed at memory, and how much of each has
// been shown.
struct memory_stream {
	FILE *stream = nullptr;
	char *data = nullptr;
	size_t size = 0;
	size_t shown = 0;
};

bool emulating = false;
memory_stream key_memory, touch_memory, adapter_memory;
// With -u the input devices' records arrive here, in the kernel's place:
// [0] ours to read, [1] the daemon's to write.
std::array<int, 2> uinput_keyboard{-1, -1}, uinput_mouse{-1, -1};

// The key map, line by line, and the line that last filled each slot and
// each joystick button (0: none).
std::vector<std::string> map_lines{""};
std::vector<int> slot_lines(modifier_combinations * scan_code_count * prefix_index_count, 0);
std::array<int, joystick_button_count> button_lines{};

void note_map_line(const key_map_line &line, void *)
{
	std::string piece = line.text;
	while (!piece.empty() && (piece.back() == '\n' || piece.back() == '\r'))
		piece.pop_back();
	if (line.continued)
		map_lines.back() += piece; // the next piece of a long line
	else
		map_lines.push_back(piece);
	if (line.verdict == key_map_verdict::key)
		slot_lines[static_cast<std::size_t>(line.slot - &key_tables.key_table[0][0][0])] =
			static_cast<int>(line.number);
	if (line.verdict == key_map_verdict::joystick)
		button_lines[static_cast<std::size_t>(line.button)] = static_cast<int>(line.number);
}

void open_memory(memory_stream &memory)
{
	memory.stream = open_memstream(&memory.data, &memory.size);
	if (!memory.stream)
		fail(errno_text("memory stream"));
}

// What the stream received since it was last looked at.
std::string new_output(memory_stream &memory)
{
	(void)fflush(memory.stream);
	std::string text(memory.data + memory.shown, memory.size - memory.shown);
	memory.shown = memory.size;
	return text;
}

// The daemon's in-process start-up, on the memory streams.
void start_daemon_in_memory()
{
	std::vector<char *> argv{const_cast<char *>(default_program_name)};
	for (std::string &option : options.daemon_options)
		argv.push_back(option.data());
	argv.push_back(nullptr);
	open_memory(key_memory);
	open_memory(touch_memory);
	open_memory(adapter_memory);
	in_process_start start;
	start.argc = static_cast<int>(argv.size()) - 1;
	start.argv = argv.data();
	start.given.key_map = options.key_map_path;
	start.given.observer = note_map_line;
	if (options.calibration_path)
		start.given.calibration = start.given.calibration_name = options.calibration_path;
	else if (access(calibration_file, R_OK) == 0)
		start.given.calibration = calibration_file;
	for (std::array<int, 2> *pair : {&uinput_keyboard, &uinput_mouse})
		if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair->data()) != 0)
			fail(errno_text("socket pair"));
	start.given.devices = {key_memory.stream, key_memory.stream, touch_memory.stream,
			       uinput_keyboard[1], uinput_mouse[1]};
	start.given.adapter = adapter_memory.stream;
	switch (start_in_process(start)) {
	case in_process_outcome::started: break;
	case in_process_outcome::options_refused: {
		std::string letters;
		for (const std::string &option : options.daemon_options)
			letters += " " + option;
		refuse_usage("ps2trace", "ps2linkd refuses these options together:" + letters);
	}
	case in_process_outcome::start_failed: exit(1); // the daemon's message is out
	}
	// The mouse-enable command went to memory, not to the adapter: the
	// trace shows what the frames make.
	(void)new_output(adapter_memory);
	emulating = true;
}

// A text line as people read it in a program: " 30 1 \n".
std::string quoted(const std::string &text)
{
	std::string out = "\"";
	for (char c : text) {
		if (c == '\n')
			out += "\\n";
		else
			out += c;
	}
	return out + "\"";
}

// The input device records the daemon wrote since the last look, one
// report (up to its SYN_REPORT) an entry: "keyboard MSC_SCAN 1c, EV_KEY 30 1".
std::vector<std::string> input_reports(int fd, const char *device)
{
	static constexpr std::array<const char *, 5> type_names = {"EV_SYN", "EV_KEY", "EV_REL",
								  "EV_ABS", "EV_MSC"};
	std::vector<std::string> reports;
	std::string report;
	input_event_record record{};
	while (read(fd, &record, sizeof record) == sizeof record) {
		if (record.type == 0) {
			reports.push_back(std::string(device) + report);
			report.clear();
			continue;
		}
		char entry[48];
		if (record.type == 4) // MSC_SCAN: the scan code, as evtest shows it
			snprintf(entry, sizeof entry, " MSC_SCAN %x", static_cast<unsigned>(record.value));
		else
			snprintf(entry, sizeof entry, " %s %u %d",
				 record.type < type_names.size() ? type_names[record.type] : "EV_?",
				 record.code, record.value);
		report += (report.empty() ? "" : ",") + std::string(entry);
	}
	return reports;
}

// The key events of one frame, one entry each, as the device got them.
std::vector<std::string> key_events()
{
	if (active_settings.use_uinput)
		return input_reports(uinput_keyboard[0], "keyboard");
	std::string bytes = new_output(key_memory);
	std::vector<std::string> events;
	if (active_settings.use_keypipe) {
		for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
			const auto *pair = reinterpret_cast<const uint8_t *>(bytes.data() + i);
			events.push_back("keypipe " + hex_bytes(std::span<const uint8_t>(pair, 2)));
		}
		return events;
	}
	std::size_t start = 0;
	std::size_t end;
	while ((end = bytes.find('\n', start)) != std::string::npos) {
		events.push_back("kbd " + quoted(bytes.substr(start, end + 1 - start)));
		start = end + 1;
	}
	return events;
}

void add_other_output(std::vector<std::string> &shown)
{
	std::string touch = new_output(touch_memory);
	if (!touch.empty())
		shown.push_back("ts " + quoted(touch));
	if (active_settings.use_uinput)
		for (std::string &report : input_reports(uinput_mouse[0], "mouse"))
			shown.push_back(report);
	std::string adapter = new_output(adapter_memory);
	if (!adapter.empty())
		shown.push_back("adapter " +
				hex_bytes(std::span<const uint8_t>(
					reinterpret_cast<const uint8_t *>(adapter.data()), adapter.size())));
}

// "line 379: 12 LeftShift S 0x2A", the line's blanks and tabs run together.
std::string map_line_text(int line)
{
	std::string text = "line " + std::to_string(line) + ":";
	bool blank = true;
	for (char c : map_lines[static_cast<std::size_t>(line)]) {
		bool is_blank = c == ' ' || c == '\t';
		if (!is_blank)
			text += blank ? std::string(" ") + c : std::string(1, c);
		blank = is_blank;
	}
	return text;
}

// ------------------------------------------------------ what frames mean

// The simulator's name of a key, or the character it types unshifted.
std::string key_name(const keyboard_stroke &stroke)
{
	if (stroke.pause)
		return "pause";
	set2_key key{static_cast<uint8_t>(stroke.code), stroke.prefix_index == 1, false};
	std::string_view name = name_of(key);
	if (!name.empty())
		return std::string(name);
	for (int c = ' '; c < 127; ++c) {
		char_stroke typed = stroke_of(static_cast<char>(c));
		if (typed.typeable && !typed.shifted && !key.extended && typed.key.code == key.code)
			return std::string("'") + static_cast<char>(c) + "'";
	}
	return "?";
}

// "6A" or "E06A" under "S", "SC" or "-": how the key map writes the slot.
std::string slot_text(const keyboard_stroke &stroke, unsigned combination)
{
	char code[8];
	snprintf(code, sizeof code, stroke.prefix_index ? "E0%02X" : "%02X", stroke.code);
	std::string flags;
	const char letters[] = "SCFM";
	for (unsigned bit = 0; bit < 4; ++bit)
		if (combination & (1U << bit))
			flags += letters[bit];
	return std::string(code) + " under " + (flags.empty() ? "-" : flags);
}

std::string keyboard_meaning(const serial_frame &frame, int32_t skipped_before,
			     std::vector<std::string> &shown)
{
	keyboard_stroke stroke = read_keyboard_stroke(frame);
	if (!stroke.usable)
		return "key    count " + std::to_string(keyboard_count_of(frame)) + ": ignored";
	std::string scan = hex_bytes(keyboard_codes_of(frame));
	char text[80];
	if (skipped_before != 0) {
		// The three frames after the first of Pause: the rest of its sequence.
		snprintf(text, sizeof text, "key %u  %-9s rest of pause (%d/4)",
			 keyboard_count_of(frame), scan.c_str(), 5 - skipped_before);
		if (emulating)
			shown.push_back("ignored, as the rest of pause");
		return text;
	}
	snprintf(text, sizeof text, "key %u  %-9s %-7s %s", keyboard_count_of(frame), scan.c_str(),
		 stroke.down ? "press" : "release", key_name(stroke).c_str());
	if (emulating) {
		unsigned combination = fold_modifiers(key_tables.modifier_state);
		const key_entry &slot = key_tables.key_table[combination][stroke.code][stroke.prefix_index];
		std::vector<std::string> events = key_events();
		shown.insert(shown.end(), events.begin(), events.end());
		add_other_output(shown);
		if (slot.name)
			shown.push_back(map_line_text(slot_lines[static_cast<std::size_t>(
				&slot - &key_tables.key_table[0][0][0])]));
		else
			shown.push_back("no line for " + slot_text(stroke, combination));
	}
	return text;
}

std::string mouse_meaning(const serial_frame &frame, bool dropped, std::vector<std::string> &shown)
{
	const auto [dx, dy, pressed] = mouse_motion_of(frame);
	std::string buttons;
	const char *names[] = {"left", "right", "middle"};
	for (unsigned bit = 0; bit < 3; ++bit)
		if (pressed & (1U << bit))
			buttons += std::string(buttons.empty() ? "" : "+") + names[bit];
	char text[80];
	snprintf(text, sizeof text, "mouse  x %+4d y %+4d  %s", dx, dy,
		 buttons.empty() ? "no button" : buttons.c_str());
	if (dropped)
		shown.push_back("dropped: the daemon runs without -M");
	else if (emulating) {
		add_other_output(shown);
		// An input device's mouse is relative: the system keeps the pointer.
		if (!active_settings.use_uinput)
			shown.push_back("pointer at row " + std::to_string(pointer.mouse_x) + ", column " +
					std::to_string(pointer.mouse_y));
	}
	return text;
}

std::string joystick_meaning(const serial_frame &frame, uint32_t previous,
			     std::vector<std::string> &shown)
{
	uint32_t buttons = joystick_buttons_of(frame);
	std::string down;
	for (unsigned i = 0; i < joystick_button_count; ++i)
		if (buttons & (1U << i))
			down += (down.empty() ? "" : " ") + std::to_string(i);
	std::string text = "joy    " + (down.empty() ? std::string("no button down") : "down: " + down);
	if (emulating) {
		// One event per changed button, in ascending order.
		std::vector<std::string> events = key_events();
		std::size_t next = 0;
		unsigned changed = buttons ^ previous;
		for (unsigned i = 0; i < joystick_button_count; ++i) {
			if (!(changed & (1U << i)))
				continue;
			std::string event = next < events.size() ? events[next++] : "";
			int line = button_lines[i];
			shown.push_back(event + "  button " + std::to_string(i) + ": " +
					(line ? map_line_text(line) : "no J line"));
		}
	}
	return text;
}

// ------------------------------------------------------------- framing

frame_reader reader;
std::vector<uint8_t> skipped; // bytes dropped while seeking a frame start

void show(const std::string &bytes, const std::string &meaning, const std::vector<std::string> &shown)
{
	if (options.quiet)
		return;
	std::string line = bytes + "  " + meaning;
	if (!shown.empty()) {
		line.resize(std::max<std::size_t>(line.size(), 19 + meaning_width), ' ');
		line += " |";
		for (const std::string &item : shown)
			line += "  " + item;
	}
	printf("%s\n", line.c_str());
}

void show_skipped()
{
	constexpr std::size_t per_line = 6;
	for (std::size_t start = 0; start < skipped.size(); start += per_line) {
		std::size_t count = std::min(per_line, skipped.size() - start);
		std::string bytes = hex_bytes(std::span<const uint8_t>(skipped.data() + start, count));
		bytes.resize(17, ' ');
		show(bytes, "dropped while seeking a frame start", {});
	}
	skipped.clear();
}

void take_byte(uint8_t byte)
{
	bool waiting = reader.position == 0;
	bool mouse_accepted = emulating ? active_settings.mouse_enabled : true;
	int32_t skip_before = keyboard_translation.skip_frames;
	uint32_t joystick_before = joystick_translation.joystick_previous;
	frame_event event = feed_frame_byte(reader, byte, mouse_accepted);
	if (waiting && reader.position == 0) {
		skipped.push_back(byte);
		return;
	}
	if (waiting)
		show_skipped();
	if (event == frame_event::none)
		return;

	const serial_frame &frame = reader.frame;
	std::string bytes = hex_bytes(frame);
	std::vector<std::string> shown;
	if (event == frame_event::bad_checksum) {
		char text[80];
		snprintf(text, sizeof text, "bad checksum %02X, the payload sums to %02X: dropped",
			 frame[5], frame_checksum(frame));
		show(bytes, text, shown);
		return;
	}
	if (event == frame_event::good)
		dispatch_frame(reader.kind, frame);
	std::string meaning;
	if (event == frame_event::dropped || reader.kind == frame_kind::mouse)
		meaning = mouse_meaning(frame, event == frame_event::dropped, shown);
	else if (reader.kind == frame_kind::keyboard)
		meaning = keyboard_meaning(frame, skip_before, shown);
	else
		meaning = joystick_meaning(frame, joystick_before, shown);
	show(bytes, meaning, shown);
}

// ---------------------------------------------------------------- input

FILE *record = nullptr;

void take_chunk(long long micros, std::span<const uint8_t> bytes)
{
	if (record)
		write_capture_chunk(record, micros, bytes);
	for (uint8_t byte : bytes)
		take_byte(byte);
	(void)fflush(stdout);
}

long long start_us = 0;

long long elapsed_us()
{
	timespec now{};
	clock_gettime(CLOCK_MONOTONIC, &now);
	return static_cast<long long>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000 - start_us;
}

// Raw bytes or a capture from a descriptor: the capture reader decides by
// the first bytes, and refuses what begins like a capture but is none.
void read_stream(int fd, const char *name)
{
	capture_reader capture;
	capture.name = name;
	std::vector<capture_chunk> chunks;
	auto take_chunks = [&]() {
		for (const capture_chunk &chunk : chunks)
			take_chunk(chunk.micros, chunk.bytes);
		chunks.clear();
	};
	bool any = false;
	for (;;) {
		uint8_t buffer[4096];
		ssize_t got;
		do
			got = read(fd, buffer, sizeof buffer);
		while (got == -1 && errno == EINTR && !stop_requested);
		if (got == -1 && !stop_requested)
			fail(errno_text(name));
		if (got <= 0)
			break;
		any = true;
		std::span<const uint8_t> bytes(buffer, static_cast<std::size_t>(got));
		if (capture.kind == capture_kind::not_capture) {
			take_chunk(elapsed_us(), bytes); // raw bytes, timed as they arrive
			continue;
		}
		capture_kind kind = feed_capture(capture, bytes, chunks);
		if (kind == capture_kind::bad)
			fail(capture.error);
		if (kind == capture_kind::not_capture) {
			const auto *pending = reinterpret_cast<const uint8_t *>(capture.pending.data());
			take_chunk(elapsed_us(), std::span<const uint8_t>(pending, capture.pending.size()));
			capture.pending.clear();
		}
		take_chunks();
	}
	if (!any && !stop_requested)
		fail(std::string(name) + ": empty: no byte at all, and no capture");
	if (capture.kind != capture_kind::not_capture &&
	    finish_capture(capture, chunks) == capture_kind::bad)
		fail(capture.error);
	take_chunks();
}

// The serial line itself. Another process that holds it (the daemon takes
// an exclusive lock) keeps it: reading a terminal takes the bytes away from
// whoever else reads it, so the trace would steal the daemon's input. While
// the trace runs it holds a shared lock in turn, so that a daemon started
// meanwhile does not share the line with it.
int open_line()
{
	int fd = open(options.device_path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
	if (fd == -1)
		fail(errno_text(options.device_path));
	if (!isatty(fd))
		fail(std::string(options.device_path) +
		     " is not a terminal; give it without -p to read it as a capture or raw bytes");
	(void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK); // reads wait, as the daemon's
	file_id file;
	std::vector<file_holder> holders;
	if (file_id_of_fd(fd, file))
		holders = holders_of(file);
	std::string names;
	for (const file_holder &holder : holders)
		names += (names.empty() ? "" : ", ") + command_of(holder.pid) + " (pid " +
			 std::to_string(holder.pid) + ")";
	if (flock(fd, LOCK_SH | LOCK_NB) == -1) {
		fail(std::string(options.device_path) + " is locked, as ps2linkd locks its line; " +
		     (names.empty() ? std::string("which process holds it cannot be told")
				    : "it is open in " + names) +
		     ". Reading it as well would take bytes away from that process, so ps2trace "
		     "leaves the line alone: stop the daemon first.");
	}
	if (pid_t other = blocked_reader_of(file); other > 0)
		fprintf(stderr, "ps2trace: warning: %s (pid %d) reads %s as well; bytes go to "
				"whoever reads first\n", command_of(other).c_str(), static_cast<int>(other),
			options.device_path);
	if (const char *failure = set_line_mode(fd, options.speed)) {
		fputs(failure, stdout);
		fail(std::string("cannot set the line's settings on ") + options.device_path);
	}
	raise_dtr(fd);
	settle_line(fd);
	fprintf(stderr, "ps2trace: reading %s (a daemon started now finds it locked)\n",
		options.device_path);
	return fd;
}

void read_line(int fd)
{
	for (;;) {
		uint8_t buffer[256];
		ssize_t got = read(fd, buffer, sizeof buffer);
		if (stop_requested)
			break;
		if (got > 0) {
			take_chunk(elapsed_us(), std::span<const uint8_t>(buffer, static_cast<std::size_t>(got)));
			continue;
		}
		if (got == 0 || errno == EINTR || errno == EAGAIN)
			continue; // idle for 0.1 s: the line's read timeout
		if (errno == EIO) {
			fprintf(stderr, "ps2trace: %s hung up\n", options.device_path);
			break;
		}
		fail(errno_text(options.device_path));
	}
	// Its descriptor stays open until exit, like the daemon's.
}

// ------------------------------------------------------------------ main

// Recording over what is read would empty it before it is read: refused,
// whatever path names the same file (a link, another spelling).
void refuse_recording_over_input()
{
	const char *input = options.device_path ? options.device_path : options.file_path;
	struct stat in {};
	struct stat out {};
	bool from_stdin = !input || strcmp(input, "-") == 0;
	if (strcmp(options.record_path, "-") == 0 ||
	    (from_stdin ? fstat(0, &in) : stat(input, &in)) != 0 ||
	    stat(options.record_path, &out) != 0)
		return;
	if (in.st_dev == out.st_dev && in.st_ino == out.st_ino)
		fail(std::string("-w ") + options.record_path + " is the input " +
		     (from_stdin ? "(standard input)" : input) +
		     ": recording would overwrite it before it is read");
}

void parse_arguments(int argc, char **argv)
{
	static const option long_options[] = {
		{"record", required_argument, nullptr, 'w'},
		{"help", no_argument, nullptr, 'h'},
		{nullptr, 0, nullptr, 0},
	};
	const char *program = "ps2trace";
	int letter;
	while ((letter = getopt_long(argc, argv, ":p:s:m:MxcVuP:w:qh", long_options, nullptr)) != -1) {
		long value = 0;
		switch (letter) {
		case 'p': options.device_path = optarg; break;
		case 's':
			if (!parse_int(optarg, 0, 1'000'000, value))
				refuse_usage(program, std::string("-s ") + optarg +
							      ": a speed is a number of bits per second");
			options.speed = static_cast<int32_t>(value);
			break;
		case 'm': options.key_map_path = optarg; break;
		case 'M':
		case 'x':
		case 'c':
		case 'V':
		case 'u': options.daemon_options.push_back(std::string("-") + static_cast<char>(letter)); break;
		case 'P': options.calibration_path = optarg; break;
		case 'w': options.record_path = optarg; break;
		case 'q': options.quiet = true; break;
		case 'h': usage(0);
		default: refuse_usage(program, option_problem(letter, argv));
		}
	}
	if (optind < argc)
		options.file_path = argv[optind++];
	if (optind != argc)
		refuse_usage(program, std::string("one FILE at a time: ") + argv[optind] + " is one more");
	if (options.device_path && options.file_path)
		refuse_usage(program, std::string("-p ") + options.device_path + " and FILE " +
					      options.file_path + ": read one or the other");
	if ((!options.daemon_options.empty() || options.calibration_path) && !options.key_map_path)
		refuse_usage(program, "-M, -x, -c, -V, -u and -P go with -m KEYMAP");
	// A terminal is a serial line, whichever way it is given: read as with
	// -p, never as a file (the line's settings would mangle the bytes, and
	// the daemon's lock would not be looked at).
	struct stat file {};
	if (options.file_path && stat(options.file_path, &file) == 0 && S_ISCHR(file.st_mode)) {
		int fd = open(options.file_path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
		if (fd != -1 && isatty(fd)) {
			options.device_path = options.file_path;
			options.file_path = nullptr;
		}
		if (fd != -1)
			(void)close(fd); // only looked at
	}
	if (options.record_path && strcmp(options.record_path, "-") == 0)
		options.quiet = true;
}

} // namespace

int main(int argc, char **argv)
{
	parse_arguments(argc, argv);
	struct sigaction action {};
	action.sa_handler = note_stop; // no SA_RESTART: a waiting read ends
	sigaction(SIGINT, &action, nullptr);
	sigaction(SIGTERM, &action, nullptr);
	sigaction(SIGHUP, &action, nullptr);

	if (options.key_map_path)
		start_daemon_in_memory();
	if (options.record_path) {
		refuse_recording_over_input();
		record = strcmp(options.record_path, "-") == 0 ? stdout : fopen(options.record_path, "w");
		if (!record)
			fail(errno_text(options.record_path));
	}

	int line_fd = options.device_path ? open_line() : -1;
	start_us = elapsed_us();
	if (record) {
		// The daemon's table: a speed it does not honour runs at 9600.
		int32_t speed = speed_constant(options.speed) == speed_constant(default_serial_speed)
					? default_serial_speed
					: options.speed;
		std::string source = options.device_path ? std::string(options.device_path) + " at " +
								   std::to_string(speed) + " bit/s"
				     : options.file_path ? options.file_path
							 : "standard input";
		write_capture_header(record, "from " + source);
	}
	if (line_fd != -1) {
		read_line(line_fd);
	} else if (options.file_path && strcmp(options.file_path, "-") != 0) {
		int fd = open(options.file_path, O_RDONLY | O_CLOEXEC);
		if (fd == -1)
			fail(errno_text(options.file_path));
		read_stream(fd, options.file_path);
		(void)close(fd); // read only
	} else {
		read_stream(0, "standard input");
	}
	show_skipped();
	if (reader.position != 0 && !options.quiet)
		printf("%s  incomplete frame at the end\n",
		       hex_bytes(std::span<const uint8_t>(reader.frame.data(), reader.position)).c_str());
	if (record && record != stdout && fclose(record) != 0)
		fail(errno_text(options.record_path));
	return 0;
}
