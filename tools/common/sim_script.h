// The script language of the adapter simulator, and who plays it.
//
// A script line describes one action at the keyboard, mouse or joystick;
// running it produces adapter frames (with a short meaning for people),
// headings and pauses. The player decides what becomes of them: ps2sim
// sends the frames down the line, its self-check keeps them to compare.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

struct script_player {
	std::function<void(std::span<const uint8_t> bytes, const std::string &meaning)> send;
	std::function<void(std::string_view text)> say;
	std::function<void(long milliseconds)> pause;
};

struct script_error {
	bool failed = false;
	std::string message;
};

// Runs one line of a script (without its newline). Comments and blank
// lines do nothing. A line that cannot be run sends nothing at all.
[[nodiscard]] script_error run_script_line(const script_player &player, const std::string &line);

// "4B 01 1C": bytes in hexadecimal, for people.
[[nodiscard]] std::string hex_bytes(std::span<const uint8_t> bytes);

// A whole word as a number in low..high (decimal, 0x hex or 0 octal).
[[nodiscard]] bool parse_int(const std::string &word, long low, long high, long &value);
