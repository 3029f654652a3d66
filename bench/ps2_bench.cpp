// What one adapter frame costs on each hot path of the daemon.
//
// At 9600 bit/s the adapter delivers about 160 frames a second, and every frame runs to
// completion before the next byte is read: the frame reader, then one handler with its
// device writes and, for the mouse, four passes over the cursor block in screen memory.
// Each benchmark iteration handles exactly one frame, so the reported time is per frame.
// Device writes go to /dev/null, so they include the system call a real device costs.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <span>
#include <vector>

#include "serial/frame_payload.h"
#include "core/settings.h"
#include "daemon/in_process.h"
#include "joystick/joystick_frame.h"
#include "keyboard/key_map.h"
#include "output/key_stream.h"
#include "keyboard/keyboard_frame.h"
#include "pointer/cursor.h"
#include "pointer/mouse_frame.h"
#include "output/touch_text.h"
#include "pointer/calibration.h"
#include "pointer/framebuffer.h"
#include "pointer/panel.h"

namespace {

FILE *open_null_device()
{
	FILE *stream = fopen("/dev/null", "w");
	if (!stream) {
		perror("/dev/null");
		exit(1);
	}
	return stream;
}

// Hands the frames to a handler, one per iteration and round again.
void play_frames(benchmark::State &state, std::span<const serial_frame> frames,
		 void (*handle)(const serial_frame &))
{
	std::size_t at = 0;
	for (auto _ : state) {
		handle(frames[at]);
		at = (at + 1) % frames.size();
	}
	state.SetItemsProcessed(state.iterations());
}

// A handful of keys of each kind the translation knows: plain, shifted, extended, and a
// key wrapped in code 30.
constexpr const char bench_key_map[] = "lshift 12\n"
				       "rshift 59\n"
				       "1c a - 1c\n"
				       "1c A S 1c\n"
				       "32 b - 32\n"
				       "E075 up - 67\n"
				       "0e grave - 1e29\n"
				       "0e tilde S 1e2a\n"
				       "J 0 fire 40\n"
				       "J 1 jump 41\n"
				       "J 15 start 4f\n";

// The daemon started in this process with the options given, the bench key
// map, the devices given and, when screen holds one, the screen memory.
void start_bench_daemon(const char *options, const given_output_devices &devices,
			const given_screen &screen = {})
{
	reset_settings();
	FILE *stream = fmemopen(const_cast<char *>(bench_key_map), strlen(bench_key_map), "r");
	in_process_start start;
	start.options = options;
	start.given.key_map_stream = stream;
	start.given.devices = devices;
	start.given.screen = screen;
	if (!stream || start_in_process(start) != in_process_outcome::started) {
		fprintf(stderr, "cannot load the benchmark key map\n");
		exit(1);
	}
	(void)fclose(stream);
	// An empty table would measure a path that sends nothing.
	if (!key_tables.key_table[combination_shift][0x1C][0].name || !key_tables.key_table[0][0x75][1].name ||
	    key_tables.joystick_keys[15] != 0x4F) {
		fprintf(stderr, "the benchmark key map did not load as written\n");
		exit(1);
	}
}

// The devices the benchmarks write to: /dev/null, a system call a write.
void stop_bench_daemon(FILE *device)
{
	(void)fclose(device);
	reset_key_stream();
	reset_touch_text();
}

// A keyboard frame of these scan-code bytes.
serial_frame keys(std::initializer_list<uint8_t> codes)
{
	return make_keyboard_frame(std::span<const uint8_t>(codes.begin(), codes.size()));
}

// A typing session in scan code set 2.
const std::array<serial_frame, 12> typing = {
	keys({0x12}),                                  // left shift down
	keys({0x1C}),                                  // A
	keys({release_prefix, 0x1C}),                  // A up
	keys({release_prefix, 0x12}),                  // left shift up
	keys({0x1C}),                                  // a
	keys({release_prefix, 0x1C}),                  // a up
	keys({extended_prefix, 0x75}),                 // cursor up
	keys({extended_prefix, release_prefix, 0x75}), // cursor up released
	keys({0x0E}),                                  // grave, wrapped
	keys({release_prefix, 0x0E}),                  // grave up
	keys({0x32}),                                  // b
	keys({release_prefix, 0x32}),                  // b up
};

void frame_reader_per_frame(benchmark::State &state)
{
	const std::array<serial_frame, 3> kinds = {
		keys({0x1C}),
		make_mouse_frame_bytes(0x08, 3, 0xFE),
		make_joystick_frame(0x8001),
	};
	std::vector<uint8_t> stream;
	for (int repeat = 0; repeat < 64; ++repeat)
		for (const serial_frame &frame : kinds)
			stream.insert(stream.end(), frame.begin(), frame.end());

	frame_reader reader;
	std::size_t at = 0;
	for (auto _ : state) {
		for (std::size_t k = 0; k < frame_size; ++k) {
			frame_event event = feed_frame_byte(reader, stream[at + k], true);
			benchmark::DoNotOptimize(event);
		}
		at = (at + frame_size) % stream.size();
	}
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(frame_reader_per_frame);

// Argument: 0 text events flushed one by one, 1 raw events (-V) left to the buffer.
void keyboard_frame_per_frame(benchmark::State &state)
{
	FILE *device = open_null_device();
	start_bench_daemon(state.range(0) != 0 ? "-V" : "-", {device, device});
	play_frames(state, typing, handle_keyboard_frame);
	stop_bench_daemon(device);
}
BENCHMARK(keyboard_frame_per_frame)->ArgName("keypipe")->Arg(0)->Arg(1);

void joystick_frame_per_frame(benchmark::State &state)
{
	FILE *device = open_null_device();
	start_bench_daemon("-", {device, device});
	// Press and release of one button, then two at once, then a frame with no change.
	const std::array<serial_frame, 5> frames = {
		make_joystick_frame(0x0001), make_joystick_frame(0x0000), make_joystick_frame(0x8002),
		make_joystick_frame(0x0000), make_joystick_frame(0x0000),
	};
	play_frames(state, frames, handle_joystick_frame);
	stop_bench_daemon(device);
}
BENCHMARK(joystick_frame_per_frame);

// The handheld's screen in ordinary memory: 480 x 640 pixels of 16 bits, 960 bytes a row.
std::vector<uint16_t> screen_memory;

given_screen memory_screen()
{
	constexpr uint32_t line_length = 2 * screen_columns;
	screen_memory.assign(std::size_t{line_length} / 2 * screen_rows, 0x39E7);
	return {reinterpret_cast<unsigned char *>(screen_memory.data()), 0,
		std::size_t{line_length} * screen_rows, line_length};
}

void unmap_memory_screen()
{
	reset_screen_map();
	screen_memory.clear();
	cursor.cursor_drawn = 0;
}

// Small strokes back and forth around the middle of the screen (status bit
// 3 is always set by a PS/2 mouse).
const std::array<serial_frame, 4> strokes = {
	make_mouse_frame_bytes(0x08, 3, 2),
	make_mouse_frame_bytes(0x09, 3, 2),
	make_mouse_frame_bytes(0x38, 0xFD, 0xFE),
	make_mouse_frame_bytes(0x39, 0xFD, 0xFE),
};

// Argument: 1 the cursor moves in screen memory, 0 console mode (touch line only).
void mouse_frame_per_frame(benchmark::State &state)
{
	FILE *device = open_null_device();
	start_bench_daemon(state.range(0) == 0 ? "-Mc" : "-M", {nullptr, nullptr, device},
			   memory_screen());
	calibration = {};
	calibration.scaled = {1, 0, 0, 0, 1, 0, 1};
	pointer.mouse_x = screen_rows / 2;
	pointer.mouse_y = screen_columns / 2;
	play_frames(state, strokes, handle_mouse_frame);
	stop_bench_daemon(device);
	unmap_memory_screen();
}
BENCHMARK(mouse_frame_per_frame)->ArgName("cursor")->Arg(0)->Arg(1);

// The cursor move alone: erase, save, draw, save over 256 pixels each.
void cursor_move_per_frame(benchmark::State &state)
{
	start_bench_daemon("-", {}, memory_screen());
	int column = screen_columns / 2;
	int row = screen_rows / 2;
	int step = 3;
	save_under(column, row);
	draw_cursor(column, row);
	save_drawn(column, row);
	for (auto _ : state) {
		erase_cursor(column, row);
		column += step;
		row += step;
		step = -step;
		save_under(column, row);
		draw_cursor(column, row);
		save_drawn(column, row);
	}
	benchmark::DoNotOptimize(screen_memory.data());
	unmap_memory_screen();
	state.SetItemsProcessed(state.iterations());
}
BENCHMARK(cursor_move_per_frame);

} // namespace
