// The script language of the adapter simulator: one action per line.
//
// A script says what a person does at the keyboard, the mouse and the
// joystick ("type Hello", "tap numlock", "mouse +5 -3 left"); this file
// turns each line into the adapter frames for it and hands them to a
// player, which sends them or, for the self-check, keeps them.
#include "sim_script.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "set2_encoding.h"

namespace {

void send_frame(const script_player &player, const serial_frame &frame, const std::string &meaning)
{
	player.send(frame, meaning);
}

std::string key_label(const set2_key &key)
{
	std::string_view name = name_of(key);
	if (!name.empty())
		return std::string(name);
	char text[16];
	snprintf(text, sizeof text, key.extended ? "E0 %02X" : "%02X", key.code);
	return text;
}

void press_key(const script_player &player, const set2_key &key, const std::string &label)
{
	std::vector<serial_frame> frames = press_frames(key);
	for (std::size_t i = 0; i < frames.size(); ++i) {
		std::string meaning = "press   " + label;
		if (frames.size() > 1)
			meaning += " (" + std::to_string(i + 1) + "/" + std::to_string(frames.size()) + ")";
		send_frame(player, frames[i], meaning);
	}
}

void release_key(const script_player &player, const set2_key &key, const std::string &label)
{
	for (const serial_frame &frame : release_frames(key))
		send_frame(player, frame, "release " + label);
}

script_error error_of(std::string message)
{
	return script_error{true, std::move(message)};
}

std::vector<std::string> split_words(std::string_view text)
{
	std::vector<std::string> words;
	std::size_t i = 0;
	while (i < text.size()) {
		while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
			++i;
		std::size_t start = i;
		while (i < text.size() && text[i] != ' ' && text[i] != '\t')
			++i;
		if (i > start)
			words.emplace_back(text.substr(start, i - start));
	}
	return words;
}

bool parse_hex_byte(const std::string &word, uint8_t &value)
{
	if (word.empty() || word.size() > 2)
		return false;
	char *end = nullptr;
	unsigned long number = strtoul(word.c_str(), &end, 16);
	if (*end != '\0')
		return false;
	value = static_cast<uint8_t>(number);
	return true;
}

// KEY: a name, a hex code, or e0 and a hex code. Takes one or two words
// starting at index first and says how many it used.
bool parse_key(const std::vector<std::string> &words, std::size_t first, set2_key &key,
	       std::size_t &used)
{
	if (first >= words.size())
		return false;
	if (const set2_key *named = key_named(words[first])) {
		key = *named;
		used = 1;
		return true;
	}
	uint8_t code = 0;
	if ((words[first] == "e0" || words[first] == "E0") && first + 1 < words.size() &&
	    parse_hex_byte(words[first + 1], code)) {
		key = set2_key{code, true, false};
		used = 2;
		return true;
	}
	if (parse_hex_byte(words[first], code)) {
		key = set2_key{code, false, false};
		used = 1;
		return true;
	}
	return false;
}

// Text of a type line with its escapes resolved: \n Enter, \t Tab, \\.
std::string unescape(std::string_view text)
{
	std::string result;
	for (std::size_t i = 0; i < text.size(); ++i) {
		if (text[i] == '\\' && i + 1 < text.size()) {
			char next = text[++i];
			result += next == 'n' ? '\n' : next == 't' ? '\t' : next;
		} else {
			result += text[i];
		}
	}
	return result;
}

std::string char_label(char c)
{
	if (c == '\n')
		return "'\\n'";
	if (c == '\t')
		return "'\\t'";
	return std::string("'") + c + "'";
}

script_error type_text(const script_player &player, const std::string &text)
{
	for (char c : text)
		if (!stroke_of(c).typeable)
			return error_of("cannot type the character " + std::to_string(static_cast<unsigned char>(c)));
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
		std::string label = key_label(stroke.key);
		if (label == "space" || c == '\n' || c == '\t' || label.size() == 2)
			label = char_label(c);
		press_key(player, stroke.key, label);
		release_key(player, stroke.key, label);
	}
	if (shift_held)
		release_key(player, shift, "lshift");
	return {};
}

std::string signed_text(long value)
{
	return (value >= 0 ? "+" : "") + std::to_string(value);
}

std::string button_list(uint16_t buttons)
{
	std::string text;
	for (int i = 0; i < 16; ++i)
		if (buttons & (1U << i))
			text += (text.empty() ? "" : " ") + std::to_string(i);
	return text.empty() ? "none" : text;
}

} // namespace

std::string hex_bytes(std::span<const uint8_t> bytes)
{
	std::string text;
	char piece[4];
	for (std::size_t i = 0; i < bytes.size(); ++i) {
		snprintf(piece, sizeof piece, i == 0 ? "%02X" : " %02X", bytes[i]);
		text += piece;
	}
	return text;
}

bool parse_int(const std::string &word, long low, long high, long &value)
{
	if (word.empty())
		return false;
	char *end = nullptr;
	errno = 0;
	long number = strtol(word.c_str(), &end, 0);
	if (*end != '\0' || errno != 0 || number < low || number > high)
		return false;
	value = number;
	return true;
}

script_error run_script_line(const script_player &player, const std::string &line)
{
	std::vector<std::string> words = split_words(line);
	if (words.empty() || words[0][0] == '#')
		return {};
	const std::string &command = words[0];
	std::string_view rest = std::string_view(line).substr(line.find(command) + command.size());
	if (!rest.empty())
		rest.remove_prefix(1); // the one separator after the command word

	if (command == "say") {
		player.say(rest);
		return {};
	}
	if (command == "type")
		return type_text(player, unescape(rest));
	if (command == "key" || command == "tap") {
		set2_key key;
		std::size_t used = 0;
		if (!parse_key(words, 1, key, used))
			return error_of("unknown key");
		std::string label = key_label(key);
		if (command == "tap") {
			if (1 + used != words.size())
				return error_of("tap takes one key");
			press_key(player, key, label);
			release_key(player, key, label);
			return {};
		}
		if (2 + used != words.size())
			return error_of("key takes a key and down or up");
		const std::string &how = words[1 + used];
		if (how == "down")
			press_key(player, key, label);
		else if (how == "up")
			release_key(player, key, label);
		else
			return error_of("key takes down or up, not " + how);
		return {};
	}
	if (command == "mouse") {
		long dx = 0;
		long dy = 0;
		bool left = words.size() == 4 && words[3] == "left";
		if ((words.size() != 3 && !left) || !parse_int(words[1], -256, 255, dx) ||
		    !parse_int(words[2], -256, 255, dy))
			return error_of("mouse takes DX DY (-256..255) and optionally left");
		std::string meaning = "mouse " + signed_text(dx) + " " + signed_text(dy) +
				      (left ? "  left down" : "");
		send_frame(player, make_mouse_frame(static_cast<int>(dx), static_cast<int>(dy),
						   left ? mouse_left_button : 0), meaning);
		return {};
	}
	if (command == "joy") {
		long buttons = 0;
		if (words.size() != 2 || !parse_int(words[1], 0, 0xFFFF, buttons))
			return error_of("joy takes a button word 0..0xFFFF");
		auto word = static_cast<uint16_t>(buttons);
		send_frame(player, make_joystick_frame(word), "joystick down: " + button_list(word));
		return {};
	}
	if (command == "raw") {
		std::vector<uint8_t> bytes;
		for (std::size_t i = 1; i < words.size(); ++i) {
			uint8_t value = 0;
			if (!parse_hex_byte(words[i], value))
				return error_of("raw takes hex bytes, not " + words[i]);
			bytes.push_back(value);
		}
		if (bytes.empty())
			return error_of("raw takes at least one byte");
		std::string meaning = "raw bytes";
		if (bytes.size() == frame_size) {
			serial_frame frame{};
			std::copy(bytes.begin(), bytes.end(), frame.begin());
			meaning = frame_checksum(frame) == frame[5] ? "raw frame" : "raw frame, bad checksum";
		}
		player.send(bytes, meaning);
		return {};
	}
	if (command == "pause") {
		char *end = nullptr;
		long amount = words.size() == 2 ? strtol(words[1].c_str(), &end, 10) : -1;
		if (amount < 0 || !end || (strcmp(end, "ms") != 0 && strcmp(end, "s") != 0))
			return error_of("pause takes a time such as 200ms or 1s");
		player.pause(strcmp(end, "s") == 0 ? amount * 1000 : amount);
		return {};
	}
	return error_of("unknown command " + command);
}

