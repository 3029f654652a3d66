// The simulator's check of its own encoder: script lines against the
// exact frames a real adapter sends for them.
//
// A wrong scan code or checksum in the simulator would make every test and
// demo built on it wrong in the same way as the daemon, and unnoticed;
// these frames were worked out by hand from the set-2 table and the frame
// layout, independently of the code. A CTest test (sim_encoder).
#include <cstdio>
#include <string>
#include <vector>

#include "serial/frame_payload.h"
#include "set2_encoding.h"
#include "sim_script.h"

namespace {

// A player that keeps the frames instead of sending them.
script_player collector(std::vector<std::vector<uint8_t>> &collected)
{
	script_player player;
	player.send = [](std::span<const uint8_t> bytes, std::string_view, void *context) {
		static_cast<std::vector<std::vector<uint8_t>> *>(context)->emplace_back(bytes.begin(),
										       bytes.end());
	};
	player.context = &collected;
	return player;
}

std::string hex_bytes(std::span<const uint8_t> bytes)
{
	message_text text;
	append_hex(text, bytes);
	return std::string(view_of(text));
}

// Script lines and the exact bytes the adapter sends for them. The
// expected frames were worked out by hand from the set-2 table and the
// frame layout (header, four payload bytes, sum of the payload).
struct encoding_case {
	const char *legend;
	const char *line;
	std::vector<std::vector<uint8_t>> frames;
};

std::vector<encoding_case> encoding_cases()
{
	return {
		{"plain letter", "type a",
		 {{0x4B, 0x01, 0x1C, 0x00, 0x00, 0x1D}, {0x4B, 0x02, 0xF0, 0x1C, 0x00, 0x0E}}},
		{"capital: shift around it", "type A",
		 {{0x4B, 0x01, 0x12, 0x00, 0x00, 0x13},
		  {0x4B, 0x01, 0x1C, 0x00, 0x00, 0x1D},
		  {0x4B, 0x02, 0xF0, 0x1C, 0x00, 0x0E},
		  {0x4B, 0x02, 0xF0, 0x12, 0x00, 0x04}}},
		{"two shifted characters share one shift", "type A!",
		 {{0x4B, 0x01, 0x12, 0x00, 0x00, 0x13},
		  {0x4B, 0x01, 0x1C, 0x00, 0x00, 0x1D},
		  {0x4B, 0x02, 0xF0, 0x1C, 0x00, 0x0E},
		  {0x4B, 0x01, 0x16, 0x00, 0x00, 0x17},
		  {0x4B, 0x02, 0xF0, 0x16, 0x00, 0x08},
		  {0x4B, 0x02, 0xF0, 0x12, 0x00, 0x04}}},
		{"shift released before an unshifted character", "type Ab",
		 {{0x4B, 0x01, 0x12, 0x00, 0x00, 0x13},
		  {0x4B, 0x01, 0x1C, 0x00, 0x00, 0x1D},
		  {0x4B, 0x02, 0xF0, 0x1C, 0x00, 0x0E},
		  {0x4B, 0x02, 0xF0, 0x12, 0x00, 0x04},
		  {0x4B, 0x01, 0x32, 0x00, 0x00, 0x33},
		  {0x4B, 0x02, 0xF0, 0x32, 0x00, 0x24}}},
		{"space and escaped newline", "type  \\n",
		 {{0x4B, 0x01, 0x29, 0x00, 0x00, 0x2A},
		  {0x4B, 0x02, 0xF0, 0x29, 0x00, 0x1B},
		  {0x4B, 0x01, 0x5A, 0x00, 0x00, 0x5B},
		  {0x4B, 0x02, 0xF0, 0x5A, 0x00, 0x4C}}},
		{"extended key by name", "tap left",
		 {{0x4B, 0x02, 0xE0, 0x6B, 0x00, 0x4D}, {0x4B, 0x03, 0xE0, 0xF0, 0x6B, 0x3E}}},
		{"extended key by code", "tap e0 75",
		 {{0x4B, 0x02, 0xE0, 0x75, 0x00, 0x57}, {0x4B, 0x03, 0xE0, 0xF0, 0x75, 0x48}}},
		{"plain key by code", "tap 77",
		 {{0x4B, 0x01, 0x77, 0x00, 0x00, 0x78}, {0x4B, 0x02, 0xF0, 0x77, 0x00, 0x69}}},
		{"NumLock", "tap numlock",
		 {{0x4B, 0x01, 0x77, 0x00, 0x00, 0x78}, {0x4B, 0x02, 0xF0, 0x77, 0x00, 0x69}}},
		{"held modifier", "key rctrl down", {{0x4B, 0x02, 0xE0, 0x14, 0x00, 0xF6}}},
		{"released modifier", "key lshift up", {{0x4B, 0x02, 0xF0, 0x12, 0x00, 0x04}}},
		{"Pause: four frames, no release", "tap pause",
		 {{0x4B, 0x02, 0xE1, 0x14, 0x00, 0xF7},
		  {0x4B, 0x01, 0x77, 0x00, 0x00, 0x78},
		  {0x4B, 0x03, 0xE1, 0xF0, 0x14, 0xE8},
		  {0x4B, 0x02, 0xF0, 0x77, 0x00, 0x69}}},
		{"mouse right and down, button held", "mouse +5 -3 left",
		 {{0x4D, 0x00, 0x21, 0x05, 0xFD, 0x23}}},
		{"mouse extremes", "mouse -256 255", {{0x4D, 0x00, 0x10, 0x00, 0xFF, 0x0F}}},
		{"mouse no motion", "mouse 0 0", {{0x4D, 0x00, 0x00, 0x00, 0x00, 0x00}}},
		{"joystick buttons 0 and 1", "joy 0x0003", {{0x4A, 0x00, 0x00, 0x03, 0x00, 0x03}}},
		{"joystick button 8 in the high byte", "joy 0x0100",
		 {{0x4A, 0x00, 0x01, 0x00, 0x00, 0x01}}},
		{"joystick all buttons: the sum wraps", "joy 0xFFFF",
		 {{0x4A, 0x00, 0xFF, 0xFF, 0x00, 0xFE}}},
		{"raw bytes pass unchanged", "raw 4B 01 1C 00 00 1E",
		 {{0x4B, 0x01, 0x1C, 0x00, 0x00, 0x1E}}},
		{"comment", "# type a", {}},
	};
}

// Lines the script reader must refuse.
constexpr const char *refused_lines[] = {
	"type caf\xC3\xA9", "tap nosuchkey", "tap 1c2",        "key lshift sideways",
	"key lshift",       "mouse 256 0",   "mouse 0 -257",   "mouse 1",
	"mouse 1 2 right",  "joy 0x10000",   "joy",            "raw 4G",
	"raw",              "pause 2 s",     "pause fast",     "jump 3",
};

} // namespace

int main()
{
	int failures = 0;
	for (const encoding_case &c : encoding_cases()) {
		std::vector<std::vector<uint8_t>> collected;
		script_error error = run_script_line(collector(collected), c.line);
		if (error.failed || collected != c.frames) {
			++failures;
			printf("FAIL %s: \"%s\"%s%s\n", c.legend, c.line, error.failed ? ": " : "",
			       c_text(error.message));
			for (const auto &frame : c.frames)
				printf("  expected %s\n", hex_bytes(frame).c_str());
			for (const auto &frame : collected)
				printf("  got      %s\n", hex_bytes(frame).c_str());
		}
	}
	for (const char *line : refused_lines) {
		std::vector<std::vector<uint8_t>> collected;
		script_error error = run_script_line(collector(collected), line);
		if (!error.failed || !collected.empty()) {
			++failures;
			printf("FAIL refused line accepted: \"%s\"\n", line);
		}
	}
	// Every frame the table can produce carries a good checksum and a
	// count that matches its scan-code bytes. The checksum is worked out
	// here by the adapter's rule, the payload's sum modulo 256, not by the
	// frame builder the simulator itself uses.
	auto payload_sum = [](const serial_frame &frame) {
		return static_cast<uint8_t>(frame[1] + frame[2] + frame[3] + frame[4]);
	};
	for (int c = 0; c < 128; ++c) {
		char_stroke stroke = stroke_of(static_cast<char>(c));
		if (!stroke.typeable)
			continue;
		const key_frames frames = press_frames(stroke.key);
		for (const serial_frame &frame : frames_of(frames)) {
			if (payload_sum(frame) != frame[5] || keyboard_count_of(frame) != 1 ||
			    keyboard_codes_of(frame)[0] != stroke.key.code) {
				++failures;
				printf("FAIL character 0x%02X: %s\n", c, hex_bytes(frame).c_str());
			}
		}
	}
	printf("%s: %zu encodings, %zu refused lines\n", failures == 0 ? "PASS" : "FAIL",
	       encoding_cases().size(), std::size(refused_lines));
	return failures == 0 ? 0 : 1;
}

