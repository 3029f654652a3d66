// Scan code set 2 for a US keyboard, and the adapter's frames around it.
//
// The codes come from the PS/2 keyboard's own set-2 table: each key has one
// make code (extended keys send 0xE0 first), and its break code is 0xF0
// followed by the make code (0xE0 0xF0 code for extended keys). The
// character table below is the one source for typing text.
#include "set2_encoding.h"

#include <algorithm>
#include <array>

namespace {

// The US layout, one row per key that types: its make code, the character
// it types alone and the one it types with shift held ('\0': the same, for
// space, tab and Enter).
struct char_row {
	uint8_t code;
	char plain;
	char shifted;
};

constexpr char_row char_rows[] = {
	{0x1C, 'a', 'A'}, {0x32, 'b', 'B'}, {0x21, 'c', 'C'}, {0x23, 'd', 'D'},
	{0x24, 'e', 'E'}, {0x2B, 'f', 'F'}, {0x34, 'g', 'G'}, {0x33, 'h', 'H'},
	{0x43, 'i', 'I'}, {0x3B, 'j', 'J'}, {0x42, 'k', 'K'}, {0x4B, 'l', 'L'},
	{0x3A, 'm', 'M'}, {0x31, 'n', 'N'}, {0x44, 'o', 'O'}, {0x4D, 'p', 'P'},
	{0x15, 'q', 'Q'}, {0x2D, 'r', 'R'}, {0x1B, 's', 'S'}, {0x2C, 't', 'T'},
	{0x3C, 'u', 'U'}, {0x2A, 'v', 'V'}, {0x1D, 'w', 'W'}, {0x22, 'x', 'X'},
	{0x35, 'y', 'Y'}, {0x1A, 'z', 'Z'},
	{0x16, '1', '!'}, {0x1E, '2', '@'}, {0x26, '3', '#'}, {0x25, '4', '$'},
	{0x2E, '5', '%'}, {0x36, '6', '^'}, {0x3D, '7', '&'}, {0x3E, '8', '*'},
	{0x46, '9', '('}, {0x45, '0', ')'},
	{0x0E, '`', '~'}, {0x4E, '-', '_'}, {0x55, '=', '+'}, {0x54, '[', '{'},
	{0x5B, ']', '}'}, {0x5D, '\\', '|'}, {0x4C, ';', ':'}, {0x52, '\'', '"'},
	{0x41, ',', '<'}, {0x49, '.', '>'}, {0x4A, '/', '?'},
	{0x29, ' ', '\0'}, {0x0D, '\t', '\0'}, {0x5A, '\n', '\0'},
};

constexpr std::size_t ascii_count = 128;

constexpr std::array<char_stroke, ascii_count> make_stroke_table()
{
	std::array<char_stroke, ascii_count> table{};
	for (const char_row &row : char_rows) {
		set2_key key{row.code, false, false};
		table[static_cast<unsigned char>(row.plain)] = char_stroke{key, false, true};
		if (row.shifted != '\0')
			table[static_cast<unsigned char>(row.shifted)] = char_stroke{key, true, true};
	}
	return table;
}

constexpr std::array<char_stroke, ascii_count> stroke_table = make_stroke_table();

// Every printable ASCII character, plus tab and newline, each once: no
// character was overwritten by a later row.
constexpr bool each_character_once()
{
	std::size_t typeable = 0;
	for (const char_stroke &stroke : stroke_table)
		typeable += stroke.typeable ? 1 : 0;
	return typeable == 95 + 2;
}
static_assert(each_character_once());

// Keys by name, for "key" and "tap" lines and for showing what was sent.
struct key_row {
	std::string_view name;
	set2_key key;
};

constexpr set2_key plain(uint8_t code) { return set2_key{code, false, false}; }
constexpr set2_key extended(uint8_t code) { return set2_key{code, true, false}; }

constexpr key_row key_rows[] = {
	{"lshift", plain(0x12)},     {"rshift", plain(0x59)},    {"lctrl", plain(0x14)},
	{"rctrl", extended(0x14)},   {"lalt", plain(0x11)},      {"ralt", extended(0x11)},
	{"lcmd", extended(0x1F)},    {"rcmd", extended(0x27)},   {"menu", extended(0x2F)},
	{"caps", plain(0x58)},       {"numlock", plain(0x77)},   {"scrolllock", plain(0x7E)},
	{"esc", plain(0x76)},        {"enter", plain(0x5A)},     {"space", plain(0x29)},
	{"tab", plain(0x0D)},        {"backspace", plain(0x66)},
	{"f1", plain(0x05)},         {"f2", plain(0x06)},        {"f3", plain(0x04)},
	{"f4", plain(0x0C)},         {"f5", plain(0x03)},        {"f6", plain(0x0B)},
	{"f7", plain(0x83)},         {"f8", plain(0x0A)},        {"f9", plain(0x01)},
	{"f10", plain(0x09)},        {"f11", plain(0x78)},       {"f12", plain(0x07)},
	{"up", extended(0x75)},      {"down", extended(0x72)},   {"left", extended(0x6B)},
	{"right", extended(0x74)},   {"insert", extended(0x70)}, {"delete", extended(0x71)},
	{"home", extended(0x6C)},    {"end", extended(0x69)},    {"pageup", extended(0x7D)},
	{"pagedown", extended(0x7A)},
	{"kp0", plain(0x70)},        {"kp1", plain(0x69)},       {"kp2", plain(0x72)},
	{"kp3", plain(0x7A)},        {"kp4", plain(0x6B)},       {"kp5", plain(0x73)},
	{"kp6", plain(0x74)},        {"kp7", plain(0x6C)},       {"kp8", plain(0x75)},
	{"kp9", plain(0x7D)},        {"kpdot", plain(0x71)},     {"kpplus", plain(0x79)},
	{"kpminus", plain(0x7B)},    {"kpstar", plain(0x7C)},    {"kpslash", extended(0x4A)},
	{"kpenter", extended(0x5A)},
	{"pause", set2_key{0x77, false, true}},
};

constexpr std::array<std::string_view, std::size(key_rows)> make_key_name_list()
{
	std::array<std::string_view, std::size(key_rows)> names{};
	for (std::size_t i = 0; i < std::size(key_rows); ++i)
		names[i] = key_rows[i].name;
	return names;
}

constexpr auto key_name_list = make_key_name_list();

bool same_key(const set2_key &a, const set2_key &b)
{
	return a.code == b.code && a.extended == b.extended && a.pause == b.pause;
}

} // namespace

char_stroke stroke_of(char c)
{
	auto index = static_cast<unsigned char>(c);
	if (index >= ascii_count)
		return char_stroke{};
	return stroke_table[index];
}

const set2_key *key_named(std::string_view name)
{
	for (const key_row &row : key_rows)
		if (row.name == name)
			return &row.key;
	return nullptr;
}

std::string_view name_of(const set2_key &key)
{
	for (const key_row &row : key_rows)
		if (same_key(row.key, key))
			return row.name;
	return "";
}

std::span<const std::string_view> key_names()
{
	return key_name_list;
}

key_frames press_frames(const set2_key &key)
{
	if (key.pause) {
		// The keyboard sends E1 14 77 E1 F0 14 F0 77 for Pause and no break
		// code; the adapter passes it on as four frames, the first of which
		// begins with E1.
		static constexpr uint8_t part1[] = {pause_prefix, 0x14};
		static constexpr uint8_t part2[] = {0x77};
		static constexpr uint8_t part3[] = {pause_prefix, release_prefix, 0x14};
		static constexpr uint8_t part4[] = {release_prefix, 0x77};
		return {{make_keyboard_frame(part1), make_keyboard_frame(part2), make_keyboard_frame(part3),
			 make_keyboard_frame(part4)},
			4};
	}
	if (key.extended) {
		const uint8_t codes[] = {extended_prefix, key.code};
		return {{make_keyboard_frame(codes)}, 1};
	}
	const uint8_t codes[] = {key.code};
	return {{make_keyboard_frame(codes)}, 1};
}

key_frames release_frames(const set2_key &key)
{
	if (key.pause)
		return {};
	if (key.extended) {
		const uint8_t codes[] = {extended_prefix, release_prefix, key.code};
		return {{make_keyboard_frame(codes)}, 1};
	}
	const uint8_t codes[] = {release_prefix, key.code};
	return {{make_keyboard_frame(codes)}, 1};
}
