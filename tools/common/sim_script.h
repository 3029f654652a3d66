// The script language of the adapter simulator, and who plays it.
//
// A script line describes one action at the keyboard, mouse or joystick;
// running it produces adapter frames (with a short meaning for people),
// headings and pauses. The player decides what becomes of them: ps2sim
// sends the frames down the line, its self-check keeps them to compare.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "fixed_text.h"

// The longest script line, without its newline; a longer one is refused.
inline constexpr std::size_t script_line_limit = 1023;

// What is done with a line's output; context is handed to each, and a
// member left null does nothing.
struct script_player {
	void (*send)(std::span<const uint8_t> bytes, std::string_view meaning, void *context) = nullptr;
	void (*say)(std::string_view text, void *context) = nullptr;
	void (*pause)(long milliseconds, void *context) = nullptr;
	void *context = nullptr;
};

struct script_error {
	bool failed = false;
	message_text message;
};

// Runs one line of a script (without its newline). Comments and blank
// lines do nothing. A line that cannot be run sends nothing at all.
[[nodiscard]] script_error run_script_line(const script_player &player, std::string_view line);

// A whole word as a number in low..high (decimal, 0x hex or 0 octal).
[[nodiscard]] bool parse_int(std::string_view word, long low, long high, long &value);
