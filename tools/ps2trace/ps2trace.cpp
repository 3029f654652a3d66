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
//
// The same source is the handheld's ps2trace, built as the daemon is
// (static musl, no C++ runtime): all of its text lives in fixed buffers
// (fixed_text.h), and what /proc cannot tell on an old kernel it leaves
// unsaid (proc_watch.h).
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
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture.h"
#include "checked_output.h"
#include "fixed_text.h"
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
#include "serial/frame_observer.h"
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

// The daemon's options that the trace passes on (-M -x -c -V -u), as
// given; more than this many is a usage error.
constexpr std::size_t daemon_option_limit = 16;

struct settings {
	const char *device_path = nullptr;
	int32_t speed = default_serial_speed;
	const char *file_path = nullptr;
	const char *key_map_path = nullptr;
	std::array<const char *, daemon_option_limit> daemon_options{};
	std::size_t daemon_option_count = 0;
	const char *calibration_path = nullptr;
	const char *record_path = nullptr;
	bool quiet = false;
};

settings options;

// The signal that asked the trace to end, 0 while none has.
volatile sig_atomic_t stop_requested = 0;

// Runs as a signal handler.
void note_stop(int signal_number)
{
	stop_requested = signal_number;
}

[[noreturn]] void usage(int status)
{
	fputs(usage_text, status == 0 ? stdout : stderr);
	exit(status);
}

[[noreturn]] void fail(std::string_view what)
{
	fprintf(stderr, "ps2trace: %.*s\n", static_cast<int>(what.size()), what.data());
	exit(1);
}

[[noreturn, gnu::format(printf, 1, 2)]] void fail_format(const char *format, ...)
{
	message_text what;
	va_list arguments;
	va_start(arguments, format);
	append_formatted_to(what.text, what.length, format, arguments);
	va_end(arguments);
	fail(view_of(what));
}

// "ps2trace: OBJECT: the error's text".
[[noreturn]] void fail_errno(std::string_view object)
{
	message_text what;
	append(what, object);
	append(what, ": ");
	append(what, strerror(errno));
	fail(view_of(what));
}

// A line of the trace; what does not fit is left off (a line of a frame
// and the daemon's events for it is a few hundred bytes).
constexpr std::size_t text_limit = 16384;
using text_line = fixed_text<text_limit>;

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

// The key map lines that filled a key slot or a joystick button, their
// blanks and tabs run together (" 12 LeftShift S 0x2A"), and which of them
// last filled each slot and each button. A line that fills nothing keeps
// its text only until the next line starts.
struct map_line_text {
	unsigned number = 0;
	uint32_t start = 0;
	uint32_t length = 0;
	// The text so far ends in a word, not a blank. False at first, as
	// every member here is zero at first: the store lies in zero-filled
	// memory, not in the program's file.
	bool in_word = false;
	bool kept = false; // it filled a slot or a button
};
constexpr std::size_t map_line_limit = 16384;
constexpr std::size_t map_text_limit = 1U << 20;
constexpr std::size_t slot_count = modifier_combinations * scan_code_count * prefix_index_count;
struct map_line_store {
	std::array<map_line_text, map_line_limit> lines{};
	std::size_t line_count = 0; // the last one is the line being read
	std::array<char, map_text_limit> text{};
	std::size_t text_used = 0;
	// Index into lines, plus one; 0: no line.
	std::array<uint16_t, slot_count> slot_lines{};
	std::array<uint16_t, joystick_button_count> button_lines{};
};
map_line_store map_lines;

std::size_t slot_index(unsigned combination, unsigned code, std::size_t prefix_index)
{
	return (combination * scan_code_count + code) * prefix_index_count + prefix_index;
}

void note_map_line(const key_map_line &line, void *)
{
	map_line_store &store = map_lines;
	if (!line.continued) {
		// A line that filled nothing gives its place to the next.
		if (store.line_count != 0 && !store.lines[store.line_count - 1].kept) {
			store.text_used = store.lines[store.line_count - 1].start;
			--store.line_count;
		}
		if (store.line_count == store.lines.size())
			return; // more lines than can be kept: shown without their text
		store.lines[store.line_count++] = {line.number, static_cast<uint32_t>(store.text_used)};
	}
	if (store.line_count == 0 || store.lines[store.line_count - 1].number != line.number)
		return;
	map_line_text &entry = store.lines[store.line_count - 1];
	std::string_view piece = line.text;
	while (!piece.empty() && (piece.back() == '\n' || piece.back() == '\r'))
		piece.remove_suffix(1);
	for (char c : piece) {
		bool is_blank = c == ' ' || c == '\t';
		if (!is_blank && store.text_used + 2 <= store.text.size()) {
			if (!entry.in_word)
				store.text[store.text_used++] = ' ';
			store.text[store.text_used++] = c;
		}
		entry.in_word = !is_blank;
	}
	entry.length = static_cast<uint32_t>(store.text_used - entry.start);
	const auto index = static_cast<uint16_t>(store.line_count);
	if (line.verdict == key_map_verdict::key) {
		store.slot_lines[slot_index(line.combination, line.code,
					    static_cast<std::size_t>(line.prefix))] = index;
		entry.kept = true;
	}
	if (line.verdict == key_map_verdict::joystick) {
		store.button_lines[static_cast<std::size_t>(line.button)] = index;
		entry.kept = true;
	}
}

// "line 379: 12 LeftShift S 0x2A".
void append_map_line(text_line &shown, uint16_t index)
{
	if (index == 0)
		return;
	const map_line_text &entry = map_lines.lines[index - 1U];
	append_format(shown, "line %u:", entry.number);
	append(shown, std::string_view(map_lines.text.data() + entry.start, entry.length));
}

void open_memory(memory_stream &memory)
{
	memory.stream = open_memstream(&memory.data, &memory.size);
	if (!memory.stream)
		fail_errno("memory stream");
}

// What the stream received since it was last looked at; good until the
// daemon writes to it again.
std::string_view new_output(memory_stream &memory)
{
	(void)fflush(memory.stream);
	std::string_view text(memory.data + memory.shown, memory.size - memory.shown);
	memory.shown = memory.size;
	return text;
}

// The daemon's in-process start-up, on the memory streams.
void start_daemon_in_memory()
{
	std::array<char *, daemon_option_limit + 2> argv{const_cast<char *>(default_program_name)};
	for (std::size_t i = 0; i < options.daemon_option_count; ++i)
		argv[i + 1] = const_cast<char *>(options.daemon_options[i]);
	open_memory(key_memory);
	open_memory(touch_memory);
	open_memory(adapter_memory);
	in_process_start start;
	start.argc = static_cast<int>(options.daemon_option_count) + 1;
	start.argv = argv.data();
	start.given.key_map = options.key_map_path;
	start.given.observer = note_map_line;
	if (options.calibration_path)
		start.given.calibration = start.given.calibration_name = options.calibration_path;
	else if (access(calibration_file, R_OK) == 0)
		start.given.calibration = calibration_file;
	// Flags set apart from the call: socketpair takes them only from Linux
	// 2.6.27 on.
	for (std::array<int, 2> *pair : {&uinput_keyboard, &uinput_mouse}) {
		if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair->data()) != 0)
			fail_errno("socket pair");
		for (int fd : *pair)
			if (fcntl(fd, F_SETFL, O_NONBLOCK) != 0 || fcntl(fd, F_SETFD, FD_CLOEXEC) != 0)
				fail_errno("socket pair");
	}
	start.given.devices = {key_memory.stream, key_memory.stream, touch_memory.stream,
			       uinput_keyboard[1], uinput_mouse[1]};
	start.given.adapter = adapter_memory.stream;
	switch (start_in_process(start)) {
	case in_process_outcome::started: break;
	case in_process_outcome::options_refused: {
		message_text what;
		append(what, "ps2linkd refuses these options together:");
		for (std::size_t i = 0; i < options.daemon_option_count; ++i) {
			append(what, " ");
			append(what, options.daemon_options[i]);
		}
		refuse_usage("ps2trace", view_of(what));
	}
	case in_process_outcome::start_failed: exit(1); // the daemon's message is out
	}
	// The mouse-enable command went to memory, not to the adapter: the
	// trace shows what the frames make.
	(void)new_output(adapter_memory);
	emulating = true;
}

// A text line as people read it in a program: " 30 1 \n".
void append_quoted(text_line &shown, std::string_view text)
{
	append(shown, "\"");
	for (char c : text)
		append(shown, c == '\n' ? std::string_view("\\n") : std::string_view(&c, 1));
	append(shown, "\"");
}

// The input device records the daemon wrote since the last look, one
// report (up to its SYN_REPORT) an item: "keyboard MSC_SCAN 1c, EV_KEY 30 1".
void append_input_reports(text_line &shown, int fd, const char *device)
{
	static constexpr std::array<const char *, 5> type_names = {"EV_SYN", "EV_KEY", "EV_REL",
								  "EV_ABS", "EV_MSC"};
	bool first_in_report = true;
	input_event_record record{};
	while (read(fd, &record, sizeof record) == sizeof record) {
		if (record.type == 0) {
			if (first_in_report)
				append_format(shown, "  %s", device);
			first_in_report = true;
			continue;
		}
		if (first_in_report)
			append_format(shown, "  %s", device);
		else
			append(shown, ",");
		first_in_report = false;
		if (record.type == 4) // MSC_SCAN: the scan code, as evtest shows it
			append_format(shown, " MSC_SCAN %x", static_cast<unsigned>(record.value));
		else
			append_format(shown, " %s %u %d",
				      record.type < type_names.size() ? type_names[record.type] : "EV_?",
				      record.code, record.value);
	}
}

// The key events the device got since the last look, an item each.
void append_key_events(text_line &shown)
{
	if (active_settings.use_uinput) {
		append_input_reports(shown, uinput_keyboard[0], "keyboard");
		return;
	}
	std::string_view bytes = new_output(key_memory);
	if (active_settings.use_keypipe) {
		for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
			append(shown, "  keypipe ");
			append_hex(shown, std::span<const uint8_t>(
						  reinterpret_cast<const uint8_t *>(bytes.data() + i), 2));
		}
		return;
	}
	std::size_t end;
	while ((end = bytes.find('\n')) != std::string_view::npos) {
		append(shown, "  kbd ");
		append_quoted(shown, piece_of(bytes, 0, end + 1));
		bytes.remove_prefix(end + 1);
	}
}

// ------------------------------------------------------ what frames mean

// What the daemon reported about the frame being read, and what the trace
// shows for it beside its meaning.
struct frame_trace {
	std::array<uint8_t, frame_size> bytes{}; // the frame so far
	std::size_t length = 0;
	std::array<uint8_t, 6> skipped{}; // bytes dropped while seeking a frame start
	std::size_t skipped_length = 0;
	bool keyboard_reported = false;
	frame_report keyboard{}; // pause_tail, unusable_count or key; its pointers cleared
	std::array<uint8_t, 3 * light_command_size> adapter{}; // light commands sent
	std::size_t adapter_length = 0;
	text_line shown; // "  " before each item
};
frame_trace trace;

// What the frame did to the touch device, the mouse device and the adapter.
void append_other_output(text_line &shown)
{
	std::string_view touch = new_output(touch_memory);
	if (!touch.empty()) {
		append(shown, "  ts ");
		append_quoted(shown, touch);
	}
	if (active_settings.use_uinput)
		append_input_reports(shown, uinput_mouse[0], "mouse");
	if (trace.adapter_length != 0) {
		append(shown, "  adapter ");
		append_hex(shown, std::span<const uint8_t>(trace.adapter.data(), trace.adapter_length));
		trace.adapter_length = 0;
	}
}

// "6A" or "E06A" under "S", "SC" or "-": how the key map writes the slot.
void append_slot_text(text_line &shown, const frame_report &key)
{
	append_format(shown, key.prefix_index ? "E0%02X under " : "%02X under ", key.code);
	if (key.combination == 0)
		append(shown, "-");
	for (const flag_letter &flag : flag_letters)
		if (key.combination & flag.combination)
			append(shown, std::string_view(&flag.letter, 1));
}

// The daemon's report, as it comes: what it sent goes beside the frame.
void hear_report(const frame_report &report, void *)
{
	switch (report.kind) {
	case frame_report_kind::byte_skipped:
		// Not part of a frame after all.
		--trace.length;
		if (trace.skipped_length == trace.skipped.size())
			return; // shown when full, in take_byte
		trace.skipped[trace.skipped_length++] = report.byte;
		return;
	case frame_report_kind::bad_checksum:
		return;
	case frame_report_kind::mouse_dropped:
		if (emulating)
			append(trace.shown, "  dropped: the daemon runs without -M");
		return;
	case frame_report_kind::pause_tail:
	case frame_report_kind::unusable_count:
	case frame_report_kind::key:
		trace.keyboard_reported = true;
		trace.keyboard = report;
		trace.keyboard.frame = nullptr;
		trace.keyboard.slot = nullptr;
		trace.keyboard.event = nullptr;
		if (!emulating)
			return;
		if (report.kind == frame_report_kind::pause_tail)
			append(trace.shown, "  ignored, as the rest of pause");
		if (report.kind != frame_report_kind::key)
			return;
		append_key_events(trace.shown);
		append_other_output(trace.shown);
		append(trace.shown, "  ");
		// The line behind what the device got: a release or a repeat that
		// the form sends as its press did (an input device) names the
		// press's line, looked up under the press's combination.
		if (unsigned combination = report.sent_for ? report.sent_for->combination : report.combination;
		    report.slot->name || combination != report.combination)
			append_map_line(trace.shown, map_lines.slot_lines[slot_index(
						      combination, report.code, report.prefix_index)]);
		else {
			append(trace.shown, "no line for ");
			append_slot_text(trace.shown, report);
		}
		return;
	case frame_report_kind::joystick_button:
		if (!emulating)
			return;
		if (std::size_t before = trace.shown.length; append_key_events(trace.shown),
		    trace.shown.length == before)
			append(trace.shown, "  "); // the event's place, empty
		append_format(trace.shown, "  button %u: ", report.button);
		if (uint16_t line = map_lines.button_lines[report.button]; line != 0)
			append_map_line(trace.shown, line);
		else
			append(trace.shown, "no J line");
		return;
	case frame_report_kind::touch:
		if (!emulating)
			return;
		append_other_output(trace.shown);
		append_format(trace.shown, "  pointer at row %d, column %d", report.row, report.column);
		return;
	case frame_report_kind::motion:
		// An input device's mouse is relative: the system keeps the pointer.
		if (emulating)
			append_other_output(trace.shown);
		return;
	case frame_report_kind::lights: {
		const light_command command = make_light_command(report.led_bits);
		if (trace.adapter_length + command.size() <= trace.adapter.size()) {
			std::copy(command.begin(), command.end(), trace.adapter.begin() + trace.adapter_length);
			trace.adapter_length += command.size();
		}
		return;
	}
	}
}

// The simulator's name of a key, or the character it types unshifted.
void append_key_name(text_line &meaning, const frame_report &key)
{
	if (key.pause) {
		append(meaning, "pause");
		return;
	}
	set2_key set2{static_cast<uint8_t>(key.code), key.prefix_index == 1, false};
	std::string_view name = name_of(set2);
	if (!name.empty()) {
		append(meaning, name);
		return;
	}
	for (int c = ' '; c < 127; ++c) {
		char_stroke typed = stroke_of(static_cast<char>(c));
		if (typed.typeable && !typed.shifted && !set2.extended && typed.key.code == set2.code) {
			append_format(meaning, "'%c'", c);
			return;
		}
	}
	append(meaning, "?");
}

void append_keyboard_meaning(text_line &meaning, const serial_frame &frame)
{
	const frame_report &key = trace.keyboard;
	if (!trace.keyboard_reported || key.kind == frame_report_kind::unusable_count) {
		append_format(meaning, "key    count %u: ignored", keyboard_count_of(frame));
		return;
	}
	text_line scan;
	append_hex(scan, keyboard_codes_of(frame));
	if (key.kind == frame_report_kind::pause_tail) {
		// The three frames after the first of Pause: the rest of its sequence.
		append_format(meaning, "key %u  %-9s rest of pause (%d/4)", keyboard_count_of(frame),
			      c_text(scan), key.pause_frame);
		return;
	}
	append_format(meaning, "key %u  %-9s %-7s ", keyboard_count_of(frame), c_text(scan),
		      key.down ? "press" : "release");
	append_key_name(meaning, key);
}

void append_mouse_meaning(text_line &meaning, const serial_frame &frame)
{
	const auto [dx, dy, pressed] = mouse_motion_of(frame);
	append_format(meaning, "mouse  x %+4d y %+4d  ", dx, dy);
	static constexpr std::array<const char *, 3> names = {"left", "right", "middle"};
	for (unsigned bit = 0; bit < names.size(); ++bit)
		if (pressed & (1U << bit))
			append_format(meaning, "%s%s", (pressed & ((1U << bit) - 1)) ? "+" : "", names[bit]);
	if (pressed == 0)
		append(meaning, "no button");
}

void append_joystick_meaning(text_line &meaning, const serial_frame &frame)
{
	uint32_t buttons = joystick_buttons_of(frame);
	append(meaning, buttons == 0 ? "joy    no button down" : "joy    down:");
	for (unsigned i = 0; i < joystick_button_count; ++i)
		if (buttons & (1U << i))
			append_format(meaning, " %u", i);
}

// ------------------------------------------------------------- framing

// "4B 01 1C 00 00 1D  key 1  1C  press 'a'   |  kbd ..."
void show(std::span<const uint8_t> bytes, std::size_t bytes_width, std::string_view meaning,
	  std::string_view shown)
{
	if (options.quiet)
		return;
	text_line line;
	append_hex(line, bytes);
	while (line.length < bytes_width)
		append(line, " ");
	append(line, "  ");
	append(line, meaning);
	if (!shown.empty()) {
		while (line.length < 19 + meaning_width)
			append(line, " ");
		append(line, " |");
		append(line, shown);
	}
	printf("%.*s\n", static_cast<int>(line.length), line.text.data());
}

void show_skipped()
{
	if (trace.skipped_length != 0)
		show(std::span<const uint8_t>(trace.skipped.data(), trace.skipped_length), 17,
		     "dropped while seeking a frame start", {});
	trace.skipped_length = 0;
}

void show_frame(frame_event event)
{
	show_skipped();
	const serial_frame &frame = trace.bytes;
	text_line meaning;
	if (event == frame_event::bad_checksum)
		append_format(meaning, "bad checksum %02X, the payload sums to %02X: dropped", frame[5],
			      frame_checksum(frame));
	else if (frame[0] == keyboard_header)
		append_keyboard_meaning(meaning, frame);
	else if (frame[0] == mouse_header)
		append_mouse_meaning(meaning, frame);
	else
		append_joystick_meaning(meaning, frame);
	show(frame, 0, view_of(meaning), event == frame_event::bad_checksum ? "" : view_of(trace.shown));
}

// One byte to the daemon's frame loop, as if off the line; a frame it
// completes is shown with what the daemon reported about it.
void take_byte(uint8_t byte)
{
	trace.bytes[trace.length++] = byte;
	if (trace.skipped_length == trace.skipped.size())
		show_skipped(); // six a line
	frame_event event = translate_serial_byte(byte);
	if (event == frame_event::none)
		return;
	show_frame(event);
	trace.length = 0;
	trace.keyboard_reported = false;
	trace.shown.length = 0;
}

// ---------------------------------------------------------------- input

FILE *record = nullptr;

// Each piece is recorded and shown before the next is read, and a write
// that failed ends the trace. A stop signal that interrupted a write (to a
// pipe nobody empties) is no failure: the stop is acted on instead.
void take_chunk(long long micros, std::span<const uint8_t> bytes)
{
	if (record) {
		write_capture_chunk(record, micros, bytes);
		if (!stop_requested)
			check_written("ps2trace", record,
				      record == stdout ? "standard output" : options.record_path);
	}
	for (uint8_t byte : bytes)
		take_byte(byte);
	if (!options.quiet && !stop_requested)
		check_written("ps2trace", stdout, "standard output");
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
capture_reader capture;

void read_stream(int fd, const char *name)
{
	capture.name = name;
	capture.take = [](const capture_chunk &chunk, void *) {
		if (!stop_requested)
			take_chunk(chunk.micros, bytes_of(chunk));
	};
	bool any = false;
	// A file is read as fast as it comes: the signal is looked at between
	// reads, not only when one is interrupted.
	while (!stop_requested) {
		uint8_t buffer[4096];
		ssize_t got;
		do
			got = read(fd, buffer, sizeof buffer);
		while (got == -1 && errno == EINTR && !stop_requested);
		if (got == -1 && !stop_requested)
			fail_errno(name);
		if (got <= 0)
			break;
		any = true;
		std::span<const uint8_t> bytes(buffer, static_cast<std::size_t>(got));
		if (capture.kind == capture_kind::not_capture) {
			take_chunk(elapsed_us(), bytes); // raw bytes, timed as they arrive
			continue;
		}
		capture_kind kind = feed_capture(capture, bytes);
		if (kind == capture_kind::bad)
			fail(view_of(capture.error));
		if (kind == capture_kind::not_capture) {
			const auto *pending = reinterpret_cast<const uint8_t *>(capture.pending.data());
			take_chunk(elapsed_us(), std::span<const uint8_t>(pending, capture.pending_length));
			capture.pending_length = 0;
		}
	}
	if (stop_requested)
		return; // cut short: no verdict on the end
	if (!any)
		fail_format("%s: empty: no byte at all, and no capture", name);
	if (capture.kind != capture_kind::not_capture && finish_capture(capture) == capture_kind::bad)
		fail(view_of(capture.error));
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
		fail_errno(options.device_path);
	if (!isatty(fd))
		fail_format("%s is not a terminal; give it without -p to read it as a capture or raw bytes",
			    options.device_path);
	(void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK); // reads wait, as the daemon's
	file_id file;
	file_holders holders;
	if (file_id_of_fd(fd, file))
		holders = holders_of(file);
	if (flock(fd, LOCK_SH | LOCK_NB) == -1) {
		// A process with the line open twice (the daemon reads one
		// descriptor and writes another) is named once; its descriptors
		// come together.
		message_text what;
		append_format(what, "%s is locked, as ps2linkd locks its line; ", options.device_path);
		append(what, holders.count == 0 ? "which process holds it cannot be told" : "it is open in ");
		pid_t named = 0;
		for (const file_holder &holder : listed(holders)) {
			if (holder.pid == named)
				continue;
			append_format(what, "%s%s (pid %d)", named == 0 ? "" : ", ",
				      c_text(command_of(holder.pid)), static_cast<int>(holder.pid));
			named = holder.pid;
		}
		if (holders.more)
			append_format(what, " and more (over %zu descriptors)", file_holder_limit);
		append(what, ". Reading it as well would take bytes away from that process, so ps2trace "
			     "leaves the line alone: stop the daemon first.");
		fail(view_of(what));
	}
	if (pid_t other = blocked_reader_of(file); other > 0)
		fprintf(stderr, "ps2trace: warning: %s (pid %d) reads %s as well; bytes go to "
				"whoever reads first\n", c_text(command_of(other)), static_cast<int>(other),
			options.device_path);
	if (const char *failure = set_line_mode(fd, options.speed)) {
		fputs(failure, stdout);
		fail_format("cannot set the line's settings on %s", options.device_path);
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
		fail_errno(options.device_path);
	}
	// Its descriptor stays open until exit, like the daemon's.
}

// ------------------------------------------------------------------ main

bool same_file(const struct stat &one, const struct stat &other)
{
	return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Recording over what is read would empty it before it is read, and a
// trace or a capture appended to its own input (standard output sent
// there) would be read again and grow it without end: both refused,
// whatever path names the same file (a link, a hard link, another
// spelling). A terminal on standard output is where people read the trace,
// never a loop.
void refuse_writing_over_input()
{
	const char *input = options.device_path ? options.device_path : options.file_path;
	struct stat in {};
	bool from_stdin = !input || strcmp(input, "-") == 0;
	if ((from_stdin ? fstat(0, &in) : stat(input, &in)) != 0)
		return;
	const char *input_name = from_stdin ? "(standard input)" : input;
	const bool record_to_stdout = options.record_path && strcmp(options.record_path, "-") == 0;
	struct stat out {};
	if (options.record_path && !record_to_stdout && stat(options.record_path, &out) == 0 &&
	    same_file(in, out))
		fail_format("-w %s is the input %s: recording would overwrite it before it is read",
			    options.record_path, input_name);
	if ((!options.quiet || record_to_stdout) && !isatty(1) && fstat(1, &out) == 0 &&
	    same_file(in, out))
		fail_format("standard output is the input %s: the %s would be read again as it is "
			    "written, without end",
			    input_name, record_to_stdout ? "capture" : "trace");
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
			if (!parse_int(optarg, 0, 1'000'000, value)) {
				message_text what;
				append_format(what, "-s %s: a speed is a number of bits per second", optarg);
				refuse_usage(program, view_of(what));
			}
			options.speed = static_cast<int32_t>(value);
			break;
		case 'm': options.key_map_path = optarg; break;
		case 'M':
		case 'x':
		case 'c':
		case 'V':
		case 'u': {
			static constexpr std::array<const char *, 5> words = {"-M", "-x", "-c", "-V", "-u"};
			if (options.daemon_option_count == options.daemon_options.size())
				refuse_usage(program, "-M, -x, -c, -V and -u: more than 16 of them");
			options.daemon_options[options.daemon_option_count++] =
				*std::find_if(words.begin(), words.end(),
					      [letter](const char *word) { return word[1] == letter; });
			break;
		}
		case 'P': options.calibration_path = optarg; break;
		case 'w': options.record_path = optarg; break;
		case 'q': options.quiet = true; break;
		case 'h': usage(0);
		default: refuse_option(program, letter, argv);
		}
	}
	if (optind < argc)
		options.file_path = argv[optind++];
	if (optind != argc)
	{
		message_text what;
		append_format(what, "one FILE at a time: %s is one more", argv[optind]);
		refuse_usage(program, view_of(what));
	}
	if (options.device_path && options.file_path) {
		message_text what;
		append_format(what, "-p %s and FILE %s: read one or the other", options.device_path,
			      options.file_path);
		refuse_usage(program, view_of(what));
	}
	if ((options.daemon_option_count != 0 || options.calibration_path) && !options.key_map_path)
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
	check_standard_output_at_exit("ps2trace");
	parse_arguments(argc, argv);
	refuse_writing_over_input();
	struct sigaction action {};
	action.sa_handler = note_stop; // no SA_RESTART: a waiting read ends
	sigaction(SIGINT, &action, nullptr);
	sigaction(SIGTERM, &action, nullptr);
	sigaction(SIGHUP, &action, nullptr);

	if (options.key_map_path)
		start_daemon_in_memory();
	set_frame_observer(hear_report, nullptr);
	if (options.record_path) {
		record = strcmp(options.record_path, "-") == 0 ? stdout : fopen(options.record_path, "w");
		if (!record)
			fail_errno(options.record_path);
	}

	int line_fd = options.device_path ? open_line() : -1;
	start_us = elapsed_us();
	if (record) {
		// The daemon's table: a speed it does not honour runs at 9600.
		int32_t speed = speed_constant(options.speed) == speed_constant(default_serial_speed)
					? default_serial_speed
					: options.speed;
		message_text source;
		if (options.device_path)
			append_format(source, "from %s at %d bit/s", options.device_path, static_cast<int>(speed));
		else
			append_format(source, "from %s", options.file_path ? options.file_path : "standard input");
		write_capture_header(record, view_of(source));
	}
	if (line_fd != -1) {
		read_line(line_fd);
	} else if (options.file_path && strcmp(options.file_path, "-") != 0) {
		int fd = open(options.file_path, O_RDONLY | O_CLOEXEC);
		if (fd == -1)
			fail_errno(options.file_path);
		read_stream(fd, options.file_path);
		(void)close(fd); // read only
	} else {
		read_stream(0, "standard input");
	}
	// A signal ends a live trace, which has no other end; a file or
	// standard input it cuts short, which the status says.
	const bool cut_short = stop_requested && line_fd == -1;
	if (stop_requested) {
		// A write the signal interrupted left its stream's error flag set.
		clearerr(stdout);
		if (record)
			clearerr(record);
	}
	if (!cut_short) {
		show_skipped();
		if (trace.length != 0)
			show(std::span<const uint8_t>(trace.bytes.data(), trace.length), 0,
			     "incomplete frame at the end", {});
	}
	if (record && record != stdout)
		close_written("ps2trace", record, options.record_path);
	return cut_short ? 128 + stop_requested : 0;
}
