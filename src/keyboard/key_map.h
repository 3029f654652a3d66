// The key map: which scan codes are modifiers, what every key sends under
// every modifier combination, and what the joystick buttons send.
//
// The map is a line-oriented text file read once at start-up into dense
// tables, so translating a key is a direct index, never a search. Lines that
// fit no form are skipped; the loader can tell an observer why, line by
// line, for a checker to print.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

struct key_entry {
	char *name;     // copied from the key map; null means the slot is empty
	uint32_t value; // bits 0-7 key code; is_wrapped_key(): sent wrapped (output_form.h)
};

inline constexpr std::size_t modifier_combinations = 16; // shift, ctrl, alt, cmd
inline constexpr std::size_t scan_code_count = 256;
inline constexpr std::size_t prefix_index_count = 2;     // plain, after 0xE0
inline constexpr std::size_t joystick_button_count = 16;
inline constexpr std::size_t modifier_name_count = 8;

// Combination bits of the flag letters "S", "C", "F" and "M".
inline constexpr unsigned combination_shift = 0x1;
inline constexpr unsigned combination_ctrl = 0x2;
inline constexpr unsigned combination_alt = 0x4;
inline constexpr unsigned combination_cmd = 0x8;

// The flag letters of a key line, in the order of their bits, each with the
// modifier group it stands for.
struct flag_letter {
	char letter;
	unsigned combination;
	const char *group;
};
inline constexpr std::array<flag_letter, 4> flag_letters = {{
	{'S', combination_shift, "shift"},
	{'C', combination_ctrl, "ctrl"},
	{'F', combination_alt, "alt"},
	{'M', combination_cmd, "cmd"},
}};

using key_table_type = std::array<std::array<std::array<key_entry, prefix_index_count>,
					     scan_code_count>,
				  modifier_combinations>;

inline constexpr unsigned default_keyrep_first = 3;
inline constexpr unsigned default_keyrep_next = 1;

// Everything the key map fills, and the modifier keys now held, which
// translation looks the table up with. The names in a slot are copied from
// the file; clear_key_tables frees them, so the record is never reset by
// assigning {} while a map is loaded.
struct key_map_tables {
	key_table_type key_table{};
	std::array<uint8_t, scan_code_count> modifier_of_code{}; // modifier bit of a plain code
	unsigned modifier_state = 0; // bits of the modifier keys now held
	std::array<int32_t, joystick_button_count> joystick_keys{}; // what each button sends
	// Stored as the map gives them; nothing in the daemon reads them. 3 and
	// 1 until a line sets them: reset_key_map writes those, and start-up
	// runs it before it loads a map. They are 0 before that only so that
	// the record, the 64 KB key table with it, is zero-filled memory and
	// not part of the daemon's file.
	unsigned keyrep_first = 0;
	unsigned keyrep_next = 0;
};
extern key_map_tables key_tables;

// Lines are read in pieces of at most 78 characters (a longer line arrives
// as several pieces, each handled as a line of its own) into buffers of 80;
// a token is at most 79 characters. The width is a macro so that the scan
// formats can spell it ("%" KEY_MAP_TOKEN_WIDTH_TEXT "s").
#define KEY_MAP_TOKEN_WIDTH 79
#define KEY_MAP_STRINGIFY_(x) #x
#define KEY_MAP_STRINGIFY(x) KEY_MAP_STRINGIFY_(x)
#define KEY_MAP_TOKEN_WIDTH_TEXT KEY_MAP_STRINGIFY(KEY_MAP_TOKEN_WIDTH)
inline constexpr std::size_t key_map_line_buffer = KEY_MAP_TOKEN_WIDTH + 1;
inline constexpr int key_map_read_limit = KEY_MAP_TOKEN_WIDTH;

// What became of one line (or piece) of the key map.
enum class key_map_verdict : uint8_t {
	comment,            // "#" in column one
	blank,              // no token at all
	modifier,           // modifier_of_code entry set
	modifier_no_code,   // modifier name without a hexadecimal code
	modifier_code_range,// modifier code above 0xFF
	key_repeat,         // keyrep_first / keyrep_next set
	key_repeat_no_value,// keyrep line without a number: setting unchanged
	joystick,           // joystick_keys entry set
	joystick_incomplete,// "J" line without index, name and value
	joystick_range,     // button index outside 0..15
	key,                // key_table slot filled
	key_bad_code,       // first token is neither XX nor E0XX
	key_incomplete,     // key line without name, flags and value
	unknown,            // a first token that is nothing of the above
};
inline constexpr std::size_t key_map_verdict_count = 14;
static_assert(key_map_verdict_count == static_cast<std::size_t>(key_map_verdict::unknown) + 1,
	      "key_map_verdict_count must follow the last verdict");

// True for the verdicts that changed a table.
[[nodiscard]] bool key_map_line_used(key_map_verdict verdict);
// A short English reason, for the checker and for debugging.
[[nodiscard]] const char *describe_key_map_verdict(key_map_verdict verdict);

// What the loader made of one line (or piece), as it parsed it, for the
// tools that show a map's lines beside what they did: they read the loader's
// own reading instead of parsing the line again. The words are those the
// loader read (empty where it stopped before them); the numbers hold for
// the verdicts named beside them.
struct key_map_line {
	const char *text = nullptr; // the piece as read, with its newline if it ends the line
	unsigned number = 0;        // the file line it belongs to, from 1
	bool continued = false;     // a later piece of a line longer than the read limit
	key_map_verdict verdict = key_map_verdict::blank;
	std::array<char, key_map_line_buffer> word{};  // the first word
	std::array<char, key_map_line_buffer> name{};  // key, joystick: the name
	std::array<char, key_map_line_buffer> flags{}; // key: the flag word
	std::string_view value_word; // key, joystick: the value's word, as written
	unsigned combination = 0;    // key: the modifier combination of the flags
	unsigned code = 0;           // key (0-FF), modifier: the scan code
	int prefix = -1;             // key: 0 plain, 1 after E0
	int button = -1;             // joystick: the button
	uint32_t value = 0;          // joystick: the value stored; modifier: the code's
	                             // modifier bit; key_repeat: the setting as stored
	const key_entry *slot = nullptr; // key: the slot it filled
};

// Told about every line (or piece) of the file, in file order.
using key_map_observer = void (*)(const key_map_line &line, void *context);

// The prefix index of a key line's first token: 0 for "XX", 1 for "E0XX"
// (or "e0XX"), -1 when the token is no scan code.
[[nodiscard]] int prefix_index_of(const char *token);
// The modifier combination of a flag token: upper-case S, C, F and M count
// wherever they stand; everything else (a lone "-", say) is ignored.
[[nodiscard]] unsigned combination_of_flags(const char *flags);
// Empties modifier_state, modifier_of_code and key_table.
void clear_key_tables();
// All of the key map's state as before any load: the tables emptied, the
// joystick buttons unset and the repeat settings at their defaults.
void reset_key_map();
// The modifier bit of a name, any case; 0 when it names no modifier.
[[nodiscard]] unsigned modifier_bit(const char *name);
// Reads a whole key map. 0 when the file was opened (a read error ends the
// load early and keeps what was read), -1 when it cannot be opened.
[[nodiscard]] int load_key_map(const char *path, key_map_observer observer = nullptr,
			       void *context = nullptr);
[[nodiscard]] int load_key_map_stream(FILE *stream, key_map_observer observer = nullptr,
				      void *context = nullptr);
