// The script language of the adapter simulator: one action per line.
//
// A script says what a person does at the keyboard, the mouse and the
// joystick ("type Hello", "tap numlock", "mouse +5 -3 left"); this file
// turns each line into the adapter frames for it and hands them to a
// player, which sends them or, for the self-check, keeps them. A line is
// at most script_line_limit bytes, so every piece of it fits a fixed
// buffer.
#include "sim_script.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "set2_encoding.h"
#include "text_file.h"

namespace {

// A key's label or a frame's meaning ("press   lshift (1/4)").
using meaning_text = fixed_text<96>;

// Words of one line: a line of the longest has at most this many.
constexpr std::size_t script_word_limit = (script_line_limit + 1) / 2;
struct script_words {
	std::array<std::string_view, script_word_limit> words{};
	std::size_t count = 0;
};

void send_frame(const script_player &player, std::span<const uint8_t> bytes, std::string_view meaning)
{
	if (player.send)
		player.send(bytes, meaning, player.context);
}

meaning_text key_label(const set2_key &key)
{
	meaning_text label;
	std::string_view name = name_of(key);
	if (!name.empty())
		append(label, name);
	else
		append_format(label, key.extended ? "E0 %02X" : "%02X", key.code);
	return label;
}

void press_key(const script_player &player, const set2_key &key, std::string_view label)
{
	const key_frames frames = press_frames(key);
	for (std::size_t i = 0; i < frames.count; ++i) {
		meaning_text meaning;
		append(meaning, "press   ");
		append(meaning, label);
		if (frames.count > 1)
			append_format(meaning, " (%zu/%zu)", i + 1, frames.count);
		send_frame(player, frames.frames[i], view_of(meaning));
	}
}

void release_key(const script_player &player, const set2_key &key, std::string_view label)
{
	const key_frames frames = release_frames(key);
	meaning_text meaning;
	append(meaning, "release ");
	append(meaning, label);
	for (const serial_frame &frame : frames_of(frames))
		send_frame(player, frame, view_of(meaning));
}

script_error error_of(std::string_view message, std::string_view word = {})
{
	script_error error;
	error.failed = true;
	append(error.message, message);
	append(error.message, word);
	return error;
}

script_words split_words(std::string_view text)
{
	script_words words;
	std::size_t i = 0;
	while (i < text.size()) {
		while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
			++i;
		std::size_t start = i;
		while (i < text.size() && text[i] != ' ' && text[i] != '\t')
			++i;
		if (i > start && words.count < words.words.size())
			words.words[words.count++] = piece_of(text, start, i - start);
	}
	return words;
}

// One or two hexadecimal digits, as strtoul reads them in base 16: a sign
// may stand before a single digit.
bool parse_hex_byte(std::string_view word, uint8_t &value)
{
	if (word.empty() || word.size() > 2)
		return false;
	const bool negative = word.size() == 2 && word[0] == '-';
	if (word.size() == 2 && (word[0] == '+' || word[0] == '-'))
		word.remove_prefix(1);
	unsigned number = 0;
	for (char c : word) {
		const int digit = hex_digit_value(c);
		if (digit < 0)
			return false;
		number = number * 16 + static_cast<unsigned>(digit);
	}
	value = static_cast<uint8_t>(negative ? 0U - number : number);
	return true;
}

// KEY: a name, a hex code, or e0 and a hex code. Takes one or two words
// starting at index first and says how many it used.
bool parse_key(const script_words &words, std::size_t first, set2_key &key, std::size_t &used)
{
	if (first >= words.count)
		return false;
	if (const set2_key *named = key_named(words.words[first])) {
		key = *named;
		used = 1;
		return true;
	}
	uint8_t code = 0;
	if ((words.words[first] == "e0" || words.words[first] == "E0") && first + 1 < words.count &&
	    parse_hex_byte(words.words[first + 1], code)) {
		key = set2_key{code, true, false};
		used = 2;
		return true;
	}
	if (parse_hex_byte(words.words[first], code)) {
		key = set2_key{code, false, false};
		used = 1;
		return true;
	}
	return false;
}

// Text of a type line with its escapes resolved: \n Enter, \t Tab, \\.
// It never grows, so a line's room holds it.
struct typed_text {
	std::array<char, script_line_limit> text{};
	std::size_t length = 0;
};

typed_text unescape(std::string_view text)
{
	typed_text result;
	for (std::size_t i = 0; i < text.size() && result.length < result.text.size(); ++i) {
		if (text[i] == '\\' && i + 1 < text.size()) {
			char next = text[++i];
			result.text[result.length++] = next == 'n' ? '\n' : next == 't' ? '\t' : next;
		} else {
			result.text[result.length++] = text[i];
		}
	}
	return result;
}

meaning_text char_label(char c)
{
	meaning_text label;
	if (c == '\n')
		append(label, "'\\n'");
	else if (c == '\t')
		append(label, "'\\t'");
	else
		append_format(label, "'%c'", c);
	return label;
}

script_error type_text(const script_player &player, std::string_view text)
{
	for (char c : text)
		if (!stroke_of(c).typeable) {
			script_error error = error_of("cannot type the character ");
			append_format(error.message, "%u", static_cast<unsigned char>(c));
			return error;
		}
	const set2_key shift = *key_named("lshift");
	bool shift_held = false;
	// Shift goes down before the first of a run of shifted characters and
	// up after the last, as a typist would do it.
	for (char c : text) {
		char_stroke stroke = stroke_of(c);
		if (stroke.shifted != shift_held) {
			if (stroke.shifted)
				press_key(player, shift, "lshift");
			else
				release_key(player, shift, "lshift");
			shift_held = stroke.shifted;
		}
		meaning_text label = key_label(stroke.key);
		if (view_of(label) == "space" || c == '\n' || c == '\t' || label.length == 2)
			label = char_label(c);
		press_key(player, stroke.key, view_of(label));
		release_key(player, stroke.key, view_of(label));
	}
	if (shift_held)
		release_key(player, shift, "lshift");
	return {};
}

void append_button_list(meaning_text &text, uint16_t buttons)
{
	if (buttons == 0)
		append(text, "none");
	bool first = true;
	for (int i = 0; i < 16; ++i)
		if (buttons & (1U << i)) {
			append_format(text, first ? "%d" : " %d", i);
			first = false;
		}
}

// A word as a C string for the C library's number readers; false when it
// is too long to be a number at all.
struct number_word {
	std::array<char, 64> text{};
};

bool copy_word(std::string_view word, number_word &copy)
{
	if (word.size() >= copy.text.size())
		return false;
	std::copy(word.begin(), word.end(), copy.text.begin());
	copy.text[word.size()] = '\0';
	return true;
}

script_error run_key(const script_player &player, const script_words &words)
{
	const std::string_view command = words.words[0];
	set2_key key;
	std::size_t used = 0;
	if (!parse_key(words, 1, key, used))
		return error_of("unknown key");
	const meaning_text label = key_label(key);
	if (command == "tap") {
		if (1 + used != words.count)
			return error_of("tap takes one key");
		press_key(player, key, view_of(label));
		release_key(player, key, view_of(label));
		return {};
	}
	if (2 + used != words.count)
		return error_of("key takes a key and down or up");
	const std::string_view how = words.words[1 + used];
	if (how == "down")
		press_key(player, key, view_of(label));
	else if (how == "up")
		release_key(player, key, view_of(label));
	else
		return error_of("key takes down or up, not ", how);
	return {};
}

script_error run_raw(const script_player &player, const script_words &words)
{
	std::array<uint8_t, script_word_limit> bytes{};
	std::size_t count = 0;
	for (std::size_t i = 1; i < words.count; ++i) {
		if (!parse_hex_byte(words.words[i], bytes[count]))
			return error_of("raw takes hex bytes, not ", words.words[i]);
		++count;
	}
	if (count == 0)
		return error_of("raw takes at least one byte");
	std::string_view meaning = "raw bytes";
	if (count == frame_size) {
		serial_frame frame{};
		std::copy_n(bytes.begin(), frame_size, frame.begin());
		meaning = frame_checksum(frame) == frame[5] ? "raw frame" : "raw frame, bad checksum";
	}
	send_frame(player, std::span<const uint8_t>(bytes.data(), count), meaning);
	return {};
}

script_error run_pause(const script_player &player, const script_words &words)
{
	char *end = nullptr;
	number_word word;
	long amount = words.count == 2 && copy_word(words.words[1], word)
			      ? strtol(word.text.data(), &end, 10)
			      : -1;
	if (amount < 0 || !end || (strcmp(end, "ms") != 0 && strcmp(end, "s") != 0))
		return error_of("pause takes a time such as 200ms or 1s");
	if (player.pause)
		player.pause(strcmp(end, "s") == 0 ? amount * 1000 : amount, player.context);
	return {};
}

} // namespace

bool parse_int(std::string_view word, long low, long high, long &value)
{
	number_word copy;
	if (word.empty() || !copy_word(word, copy))
		return false;
	char *end = nullptr;
	errno = 0;
	long number = strtol(copy.text.data(), &end, 0);
	if (*end != '\0' || errno != 0 || number < low || number > high)
		return false;
	value = number;
	return true;
}

script_error run_script_line(const script_player &player, std::string_view line)
{
	if (line.size() > script_line_limit) {
		script_error error = error_of("longer than ");
		append_format(error.message, "%zu bytes", script_line_limit);
		return error;
	}
	const script_words words = split_words(line);
	if (words.count == 0 || words.words[0][0] == '#')
		return {};
	const std::string_view command = words.words[0];
	std::string_view rest = piece_of(line, line.find(command) + command.size());
	if (!rest.empty())
		rest.remove_prefix(1); // the one separator after the command word

	if (command == "say") {
		if (player.say)
			player.say(rest, player.context);
		return {};
	}
	if (command == "type") {
		const typed_text text = unescape(rest);
		return type_text(player, std::string_view(text.text.data(), text.length));
	}
	if (command == "key" || command == "tap")
		return run_key(player, words);
	if (command == "mouse") {
		long dx = 0;
		long dy = 0;
		bool left = words.count == 4 && words.words[3] == "left";
		if ((words.count != 3 && !left) || !parse_int(words.words[1], -256, 255, dx) ||
		    !parse_int(words.words[2], -256, 255, dy))
			return error_of("mouse takes DX DY (-256..255) and optionally left");
		meaning_text meaning;
		append_format(meaning, "mouse %+ld %+ld%s", dx, dy, left ? "  left down" : "");
		send_frame(player, make_mouse_frame(static_cast<int>(dx), static_cast<int>(dy),
						    left ? mouse_left_button : 0),
			   view_of(meaning));
		return {};
	}
	if (command == "joy") {
		long buttons = 0;
		if (words.count != 2 || !parse_int(words.words[1], 0, 0xFFFF, buttons))
			return error_of("joy takes a button word 0..0xFFFF");
		auto word = static_cast<uint16_t>(buttons);
		meaning_text meaning;
		append(meaning, "joystick down: ");
		append_button_list(meaning, word);
		send_frame(player, make_joystick_frame(word), view_of(meaning));
		return {};
	}
	if (command == "raw")
		return run_raw(player, words);
	if (command == "pause")
		return run_pause(player, words);
	return error_of("unknown command ", command);
}
