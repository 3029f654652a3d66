// Loading the key map file into the translation tables.
//
// Each line (or each piece of a line too long for the 80-byte buffer) is
// taken by the first form that fits it: comment, modifier, key repeat,
// joystick button or key. Anything else is skipped without a word, so a
// half-edited map still loads; the observer hook says why a line was
// skipped for tools that want to know.
#include "keyboard/key_map.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "core/number_reader.h"

key_map_tables key_tables;

namespace {

// Slot n sets bit n. Slot 3 repeats "rcmd", so slot 7 always wins and no
// name produces bit 0x08: the right-hand keys take the high nibble.
constexpr std::array<const char *, modifier_name_count> modifier_names = {
	"lshift", "lctrl", "lalt", "rcmd", "rshift", "rctrl", "ralt", "rcmd",
};

constexpr unsigned key_repeat_mask = 0x7F;

bool is_hex_digit(char c)
{
	return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool all_hex(const char *token)
{
	for (; *token; ++token)
		if (!is_hex_digit(*token))
			return false;
	return true;
}

// The word that starts at text, after its blanks (what a "%s" would read).
std::string_view word_at(const char *text)
{
	while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
		++text;
	std::size_t length = 0;
	while (text[length] && text[length] != ' ' && (text[length] < '\t' || text[length] > '\r'))
		++length;
	return {text, length};
}

void store_key(key_entry &slot, const char *name, uint32_t value)
{
	free(slot.name);
	slot.name = strdup(name); // out of memory: the slot stays nameless, so empty
	slot.value = value;
}

key_map_verdict apply_modifier_line(unsigned bit, const hex_number &code, key_map_line &report)
{
	if (!code.found)
		return key_map_verdict::modifier_no_code;
	if (code.value > 0xFF)
		return key_map_verdict::modifier_code_range;
	key_tables.modifier_of_code[code.value] = static_cast<uint8_t>(bit);
	report.code = code.value;
	report.value = bit;
	return key_map_verdict::modifier;
}

// "J", a decimal button number, a name and a hexadecimal value.
key_map_verdict apply_joystick_line(const char *line, key_map_line &report)
{
	int after_word = 0;
	(void)sscanf(line, "%*s%n", &after_word); // past the "J"
	number_source source{line + after_word};
	decimal_number button = read_decimal_number(source);
	int after_name = 0;
	if (!button.found || sscanf(source.text, "%" KEY_MAP_TOKEN_WIDTH_TEXT "s%n",
				    report.name.data(), &after_name) != 1)
		return key_map_verdict::joystick_incomplete;
	source.text += after_name;
	report.value_word = word_at(source.text);
	hex_number value = read_hex_number(source);
	if (!value.found)
		return key_map_verdict::joystick_incomplete;
	if (button.value < 0 || button.value >= static_cast<int32_t>(joystick_button_count))
		return key_map_verdict::joystick_range;
	key_tables.joystick_keys[static_cast<std::size_t>(button.value)] = static_cast<int32_t>(value.value);
	report.button = button.value;
	report.value = value.value;
	return key_map_verdict::joystick;
}

key_map_verdict apply_key_line(const char *line, const char *token, key_map_line &report)
{
	int prefix_index = prefix_index_of(token);
	if (prefix_index < 0) {
		// Hex digits of the wrong length, or with a 0x the code may not carry.
		bool hex_like = all_hex(token) ||
				(token[0] == '0' && (token[1] == 'x' || token[1] == 'X') && all_hex(token + 2));
		return hex_like ? key_map_verdict::key_bad_code : key_map_verdict::unknown;
	}
	// The scan code, a name, the flags and a hexadecimal value.
	number_source source{line};
	hex_number code = read_hex_number(source);
	int after_flags = 0;
	if (!code.found || sscanf(source.text,
				  "%" KEY_MAP_TOKEN_WIDTH_TEXT "s %" KEY_MAP_TOKEN_WIDTH_TEXT "s%n",
				  report.name.data(), report.flags.data(), &after_flags) != 2)
		return key_map_verdict::key_incomplete;
	source.text += after_flags;
	report.value_word = word_at(source.text);
	hex_number value = read_hex_number(source);
	if (!value.found)
		return key_map_verdict::key_incomplete;
	report.combination = combination_of_flags(report.flags.data());
	report.code = code.value & 0xFF;
	report.prefix = prefix_index;
	key_entry &slot = key_tables.key_table[report.combination][report.code]
				   [static_cast<std::size_t>(prefix_index)];
	store_key(slot, report.name.data(), value.value);
	report.slot = &slot;
	return key_map_verdict::key;
}

} // namespace

int prefix_index_of(const char *token)
{
	std::size_t length = strlen(token);
	if (length == 2 && is_hex_digit(token[0]) && is_hex_digit(token[1]))
		return 0;
	if (length == 4 && (token[0] == 'E' || token[0] == 'e') && token[1] == '0' &&
	    is_hex_digit(token[2]) && is_hex_digit(token[3]))
		return 1;
	return -1;
}

unsigned combination_of_flags(const char *flags)
{
	unsigned combination = 0;
	for (const flag_letter &flag : flag_letters)
		if (strchr(flags, flag.letter))
			combination |= flag.combination;
	return combination;
}

bool key_map_line_used(key_map_verdict verdict)
{
	switch (verdict) {
	case key_map_verdict::modifier:
	case key_map_verdict::key_repeat:
	case key_map_verdict::joystick:
	case key_map_verdict::key:
		return true;
	default:
		return false;
	}
}

const char *describe_key_map_verdict(key_map_verdict verdict)
{
	static constexpr std::array<const char *, key_map_verdict_count> reasons = {
		"comment",
		"blank line",
		"modifier key",
		"modifier without a hexadecimal scan code",
		"modifier scan code above FF",
		"key repeat setting",
		"key repeat setting without a hexadecimal number",
		"joystick button",
		"joystick line needs: J <button 0-15> <name> <hex value>",
		"joystick button outside 0-15",
		"key",
		"scan code must be two hex digits, or E0 and two hex digits, without 0x",
		"key line needs: <scan code> <name> <flags> <key code>",
		"unknown first word",
	};
	return reasons[static_cast<std::size_t>(verdict)];
}

void clear_key_tables()
{
	key_tables.modifier_state = 0;
	key_tables.modifier_of_code.fill(0);
	for (auto &combination : key_tables.key_table)
		for (auto &code : combination)
			for (key_entry &slot : code) {
				// Most slots are empty: no call into the allocator
				// for them (the fuzz targets clear once per input).
				if (slot.name)
					free(slot.name);
				slot = key_entry{nullptr, 0};
			}
}

void reset_key_map()
{
	clear_key_tables();
	key_tables.joystick_keys.fill(0);
	key_tables.keyrep_first = default_keyrep_first;
	key_tables.keyrep_next = default_keyrep_next;
}

unsigned modifier_bit(const char *name)
{
	unsigned bit = 0;
	for (std::size_t slot = 0; slot < modifier_name_count; ++slot)
		if (strcasecmp(name, modifier_names[slot]) == 0)
			bit = 1U << slot;
	return bit;
}

namespace {

key_map_verdict read_key_map_line(const char *line, key_map_line &report)
{
	if (line[0] == '#')
		return key_map_verdict::comment;
	char *token = report.word.data();
	int after_token = 0;
	if (sscanf(line, "%" KEY_MAP_TOKEN_WIDTH_TEXT "s%n", token, &after_token) < 1)
		return key_map_verdict::blank;
	// The number after the first word, for the modifier and repeat lines.
	number_source source{line + after_token};
	hex_number number = read_hex_number(source);

	if (unsigned bit = modifier_bit(token); bit != 0)
		return apply_modifier_line(bit, number, report);

	unsigned *repeat_setting = nullptr;
	if (strcasecmp(token, "keyrep_first") == 0)
		repeat_setting = &key_tables.keyrep_first;
	else if (strcasecmp(token, "keyrep_next") == 0)
		repeat_setting = &key_tables.keyrep_next;
	if (repeat_setting) {
		if (!number.found)
			return key_map_verdict::key_repeat_no_value;
		*repeat_setting = number.value & key_repeat_mask;
		report.value = *repeat_setting;
		return key_map_verdict::key_repeat;
	}

	if (strcmp(token, "J") == 0)
		return apply_joystick_line(line, report);
	return apply_key_line(line, token, report);
}

// Applies one line (or piece) of the key map to the tables, and says in
// report what it read (report's text, number and continued are left alone).
key_map_verdict apply_key_map_line(const char *line, key_map_line &report)
{
	key_map_line fresh;
	fresh.text = report.text;
	fresh.number = report.number;
	fresh.continued = report.continued;
	report = fresh;
	report.verdict = read_key_map_line(line, report);
	return report.verdict;
}

} // namespace

int load_key_map_stream(FILE *stream, key_map_observer observer, void *context)
{
	char line[key_map_line_buffer];
	key_map_line report;
	report.text = line;
	report.number = 1;
	// fgets stops at end of file and at a read error alike; either ends the
	// load with what was read so far. A NUL byte in a line ends the line's
	// text for the tables, but not the piece: fgets marks where the piece
	// ends with the last NUL it writes, and the buffer is filled with
	// something else first so that this NUL can be told from the line's own.
	constexpr char filler = '\x01';
	for (;;) {
		memset(line, filler, sizeof line);
		if (!fgets(line, key_map_read_limit, stream))
			break;
		(void)apply_key_map_line(line, report);
		if (observer)
			observer(report, context);
		// The next piece starts a new file line when this one ended its line.
		const char *end = static_cast<const char *>(memrchr(line, '\0', sizeof line));
		const std::size_t length = static_cast<std::size_t>(end - line);
		report.continued = length == 0 || line[length - 1] != '\n';
		if (!report.continued)
			++report.number;
	}
	return 0;
}

int load_key_map(const char *path, key_map_observer observer, void *context)
{
	clear_key_tables();
	FILE *stream = fopen(path, "r");
	if (!stream)
		return -1;
	int result = load_key_map_stream(stream, observer, context);
	(void)fclose(stream);
	return result;
}
