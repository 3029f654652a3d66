// The serial line's byte stream through the daemon's frame reader and every
// frame handler, on the sample key map.
//
// The first bytes of an input choose the set-up, the rest is the line:
//   byte 0     bit 0 -M (mouse frames accepted)   bit 4 a framebuffer
//              bit 1 -V (raw key events)          bit 5 a calibration follows
//              bit 2 -x (rotated touch)           bit 6 no key map at all
//              bit 3 -c (console: no cursor)      bit 7 no output streams
//   bytes 1-2  line length of the framebuffer, bytes (odd ones included)
//   bytes 3-4  offset of the screen memory into its page (12 bits)
//   bytes 5-7  length of the screen memory (21 bits)
//   28 bytes   with bit 5: the seven calibration integers
// The screen memory is a heap block of exactly the page offset plus that
// length, so a pixel written or read past it is an AddressSanitizer report.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include "core/settings.h"
#include "daemon/frame_loop.h"
#include "daemon/in_process.h"
#include "output/output_form.h"
#include "daemon_state.h"
#include "fuzz_support.h"
#include "keyboard/key_map.h"
#include "output/key_stream.h"
#include "keyboard/keyboard_frame.h"
#include "pointer/calibration.h"
#include "pointer/framebuffer.h"
#include "pointer/mouse_frame.h"
#include "pointer/panel.h"
#include "output/touch_text.h"
#include "serial/serial_line.h"

namespace {

// The bits of the input's first byte: what the run has.
enum input_flag : uint8_t {
	flag_mouse = 0x01, flag_keypipe = 0x02, flag_rotated = 0x04, flag_console = 0x08,
	flag_screen = 0x10, flag_calibration = 0x20, flag_no_key_map = 0x40, flag_no_outputs = 0x80,
};
constexpr uint32_t page_offset_mask = 0xFFF;
constexpr uint32_t screen_length_mask = 0x1FFFFF;

// The sample map, read once. The frame path never changes the tables (only
// modifier_state), so after each reset the loaded slots are lent back to
// key_table, and taken out again before the next reset frees the table.
struct loaded_map {
	key_table_type table;
	std::vector<key_entry *> used; // the slots of key_table that hold a name
	std::array<uint8_t, scan_code_count> modifiers;
	std::array<int32_t, joystick_button_count> joystick;
};
loaded_map sample_map;

FILE *key_stream;
FILE *touch_stream;
FILE *adapter_stream;

void lend_key_map()
{
	key_tables.key_table = sample_map.table;
	key_tables.modifier_of_code = sample_map.modifiers;
	key_tables.joystick_keys = sample_map.joystick;
}

void take_back_key_map()
{
	for (key_entry *slot : sample_map.used)
		slot->name = nullptr;
}

struct screen_geometry {
	uint32_t line_length;
	uint32_t page_offset;
	uint32_t length;
};

// The bytes of the mapping before the screen memory: a pattern the cursor
// would overwrite if it drew there.
constexpr unsigned char before_screen = 0xA5;

// A fresh block of exactly the mapping's size, the screen memory zeroed
// (calloc takes large blocks straight from the kernel, so this stays
// cheap).
unsigned char *make_screen(const screen_geometry &geometry)
{
	std::size_t map_length = geometry.page_offset + geometry.length;
	auto *block = static_cast<unsigned char *>(calloc(map_length ? map_length : 1, 1));
	if (!block)
		abort();
	memset(block, before_screen, geometry.page_offset);
	return block;
}

void set_calibration(input_cursor &input)
{
	for (std::size_t k = 0; k < calibration_count; ++k) {
		calibration.values[k] = static_cast<int32_t>(take_number(input, 4));
		calibration.scaled[k] = scale_calibration(calibration.values[k]);
	}
}

bool all_bytes(const unsigned char *bytes, std::size_t count, unsigned char value)
{
	return count == 0 || (bytes[0] == value && memcmp(bytes, bytes + 1, count - 1) == 0);
}

// The cursor stays inside the screen memory, and in console mode off the
// screen altogether (the cursor's white pixels would show in the zeros).
void check_screen(const unsigned char *block, const screen_geometry &geometry)
{
	if (!all_bytes(block, geometry.page_offset, before_screen))
		abort(); // drawn before the screen memory
	if (active_settings.console_mode && !all_bytes(block + geometry.page_offset, geometry.length, 0))
		abort(); // drawn in console mode
}

// What holds after any byte stream, whatever the frames said.
void check_state()
{
	if (pointer.mouse_x < 0 || pointer.mouse_x > screen_rows - 1 || pointer.mouse_y < 0 ||
	    pointer.mouse_y > screen_columns - 1)
		abort(); // the pointer left the screen
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	reset_daemon_state();
	if (load_key_map(PS2LINK_SAMPLE_KEY_MAP) != 0) {
		fprintf(stderr, "cannot read %s\n", PS2LINK_SAMPLE_KEY_MAP);
		exit(1);
	}
	sample_map.table = key_tables.key_table;
	sample_map.modifiers = key_tables.modifier_of_code;
	sample_map.joystick = key_tables.joystick_keys;
	for (auto &combination : key_tables.key_table)
		for (auto &code : combination)
			for (key_entry &slot : code)
				if (slot.name)
					sample_map.used.push_back(&slot);
	take_back_key_map(); // the names now belong to sample_map
	key_stream = open_discard_stream();
	touch_stream = open_discard_stream();
	adapter_stream = open_discard_stream();
	if (!key_stream || !touch_stream || !adapter_stream)
		exit(1);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	take_back_key_map();
	reset_daemon_state();

	input_cursor input{data, size};
	uint8_t flags = take_byte(input);
	// The option letters the flags stand for, as one group ("-" alone is none).
	constexpr std::pair<uint8_t, char> letters[] = {
		{flag_mouse, 'M'}, {flag_keypipe, 'V'}, {flag_rotated, 'x'}, {flag_console, 'c'}};
	char group[std::size(letters) + 2] = "-";
	std::size_t length = 1;
	for (auto [flag, letter] : letters)
		if (flags & flag)
			group[length++] = letter;
	screen_geometry geometry{};
	geometry.line_length = take_number(input, 2);
	geometry.page_offset = take_number(input, 2) & page_offset_mask;
	geometry.length = take_number(input, 3) & screen_length_mask;
	unsigned char *block = (flags & flag_screen) ? make_screen(geometry) : nullptr;

	in_process_start start;
	start.options = group;
	if (block)
		start.given.screen = {block, static_cast<int32_t>(geometry.page_offset),
				      geometry.length, geometry.line_length};
	if (!(flags & flag_no_outputs)) {
		start.given.devices = {key_stream, key_stream, touch_stream};
		start.given.adapter = adapter_stream;
	}
	if (start_in_process(start) != in_process_outcome::started)
		abort(); // the letters above are all the daemon's
	if (flags & flag_calibration)
		set_calibration(input);
	if (!(flags & flag_no_key_map))
		lend_key_map();

	for (std::size_t k = 0; k < input.size; ++k)
		handle_serial_byte(input.data[k]);
	check_state();
	if (block)
		check_screen(block, geometry);

	// The block goes with this input; nothing may point into it afterwards.
	reset_screen_map();
	free(block);
	return 0;
}
