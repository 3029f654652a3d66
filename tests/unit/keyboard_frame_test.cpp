// Keyboard frames in, key events and light commands out.
//
// Each case loads a small key map, feeds keyboard frames to the real
// translation and compares the exact bytes that reached the keyboard device
// (text form " code down \n", or two raw bytes) and the adapter (the
// set-LEDs command "k", 0xED, LED byte). The last table replays typing
// sessions through the shipped sample map.
#include "key_test_support.h"

namespace {

using namespace std::string_literals;

struct frame_case {
	const char *legend;
	const char *key_map;
	std::vector<payload> frames; // payload bytes 1..4 of keyboard frames
	std::string key_events;      // exactly what the keyboard device received
	std::string adapter = "";    // exactly what the adapter received
};

class keyboard_frame : public device_test {
protected:
	void run(const frame_case &c, bool raw_form = false)
	{
		SCOPED_TRACE(c.legend);
		reset_daemon(raw_form);
		if (c.key_map)
			load_key_map_text(c.key_map);
		for (const payload &bytes : c.frames)
			handle_keyboard_frame(frame_of(keyboard_header, bytes));
		EXPECT_EQ(key_bytes(), c.key_events);
		EXPECT_EQ(adapter_bytes(), c.adapter);
	}
};

// Scan code set 2 make codes used below.
constexpr uint8_t a = 0x1C, lshift = 0x12, rshift = 0x59, ctrl = 0x14, alt = 0x11,
		  lwin = 0x1F, rwin = 0x27, num_lock = 0x77, caps = 0x58;
constexpr uint8_t E0 = 0xE0, F0 = 0xF0, E1 = 0xE1;

const frame_case press_and_release_cases[] = {
	{"press", "1C a - 1E", {{1, a, 0, 0}}, " 30 1 \n"},
	{"release", "1C a - 1E", {{2, F0, a, 0}}, " 30 0 \n"},
	{"bytes after the scan code carry no meaning", "1C a - 1E",
	 {{1, a, F0, E0}, {2, F0, a, F0}}, " 30 1 \n 30 0 \n"},
	{"E0 press and E0 F0 release use the E0 slot, plain ones the plain slot",
	 "75 KP8 - 48\nE075 Up - 67",
	 {{2, E0, 0x75, 0}, {3, E0, F0, 0x75}, {1, 0x75, 0, 0}, {2, F0, 0x75, 0}},
	 " 103 1 \n 103 0 \n 72 1 \n 72 0 \n"},
	{"E0 alone is the code E0 after the prefix", "E0E0 x - 05", {{1, E0, 0, 0}}, " 5 1 \n"},
	{"a key without a slot sends nothing", "1C a - 1E", {{1, 0x1D, 0, 0}, {2, E0, a, 0}}, ""},
	{"value 0 sends nothing", "1C a - 0", {{1, a, 0, 0}, {2, F0, a, 0}}, ""},
	{"codes are plain decimal", "1C a - FF\n1D b - 100\n", {{1, a, 0, 0}, {1, 0x1D, 0, 0}},
	 " 255 1 \n 0 1 \n"},
	{"Pause is looked up as E0 80 and its next three frames are ignored",
	 "E080 Pause - 77\n1C a - 1E",
	 {{3, E1, 0x14, 0x77}, {3, E1, F0, 0x14}, {2, F0, 0x77, 0}, {1, a, 0, 0}, {1, a, 0, 0}},
	 " 119 1 \n 30 1 \n"},
	{"a modifier let go during the Pause tail stays held",
	 "lshift 12\n1C a - 1E\n1C A S 2E",
	 {{1, lshift, 0, 0}, {3, E1, 0x14, 0x77}, {2, F0, lshift, 0}, {1, 0, 0, 0}, {1, 0, 0, 0},
	  {1, a, 0, 0}, {2, F0, lshift, 0}, {1, a, 0, 0}},
	 " 46 1 \n 30 1 \n"},
	{"count 0: byte 1 is the code, the header is tested for F0", "00 zero - 05\nE000 z - 06",
	 {{0, a, F0, a}, {0, E0, 0, 0}}, " 5 1 \n 6 1 \n"},
	{"count 4: the checksum byte is the code (04 is F3)", "04 F3 - 3D", {{4, 0, 0, 0}},
	 " 61 1 \n"},
	{"count 4 with E0 and F0: released code D4 after the prefix", "E0D4 x - 05",
	 {{4, E0, 0, F0}}, " 5 0 \n"},
	{"a count above 4 is ignored, Pause prefix and modifiers included",
	 "lshift 12\nE080 Pause - 77\n1C a - 1E",
	 {{5, E1, lshift, lshift}, {0xFF, lshift, lshift, lshift}, {1, a, 0, 0}}, " 30 1 \n"},
	{"a count above 4 still counts as a frame of the Pause tail",
	 "E080 Pause - 77\n1C a - 1E",
	 {{3, E1, 0x14, 0x77}, {5, 0, 0, 0}, {0xFF, 0, 0, 0}, {0x80, a, a, a}, {1, a, 0, 0}},
	 " 119 1 \n 30 1 \n"},
};

TEST_F(keyboard_frame, press_and_release)
{
	for (const frame_case &c : press_and_release_cases)
		run(c);
}

const frame_case modifier_cases[] = {
	{"lshift goes down under S and comes up under -",
	 "lshift 12\n12 LeftShift S 2A\n12 LeftShift - 2B",
	 {{1, lshift, 0, 0}, {2, F0, lshift, 0}}, " 42 1 \n 43 0 \n"},
	{"a modifier key without a slot sends nothing", "lshift 12\n1C A S 2E",
	 {{1, lshift, 0, 0}, {1, a, 0, 0}, {2, F0, lshift, 0}}, " 46 1 \n"},
	{"E0 12 sets lshift too, and is looked up after E0",
	 "lshift 12\nE012 fake S 05\n1C A S 2E", {{2, E0, lshift, 0}, {1, a, 0, 0}},
	 " 5 1 \n 46 1 \n"},
	{"rshift alone gives S", "rshift 59\n1C A S 2E", {{1, rshift, 0, 0}, {1, a, 0, 0}},
	 " 46 1 \n"},
	{"both shifts held, one let go: still S", "lshift 12\nrshift 59\n1C a - 1E\n1C A S 2E",
	 {{1, lshift, 0, 0}, {1, rshift, 0, 0}, {2, F0, lshift, 0}, {1, a, 0, 0},
	  {2, F0, rshift, 0}, {1, a, 0, 0}},
	 " 46 1 \n 30 1 \n"},
	{"rcmd gives M", "rcmd 27\n1C a M 05", {{2, E0, rwin, 0}, {1, a, 0, 0}}, " 5 1 \n"},
	{"lctrl and lalt give CF", "lctrl 14\nlalt 11\n1C a CF 06\n1C a C 07",
	 {{1, ctrl, 0, 0}, {1, alt, 0, 0}, {1, a, 0, 0}, {2, F0, alt, 0}, {1, a, 0, 0}},
	 " 6 1 \n 7 1 \n"},
	{"right-hand groups fold onto the same combination", "rctrl 14\nralt 11\n1C a CF 06",
	 {{2, E0, ctrl, 0}, {2, E0, alt, 0}, {1, a, 0, 0}}, " 6 1 \n"},
	{"all four groups", "lshift 12\nrctrl 14\nralt 11\nrcmd 27\n1C a SCFM 0F",
	 {{1, lshift, 0, 0}, {2, E0, ctrl, 0}, {2, E0, alt, 0}, {2, E0, rwin, 0}, {1, a, 0, 0}},
	 " 15 1 \n"},
	{"no fallback to the plain slot", "lshift 12\n1C a - 1E",
	 {{1, lshift, 0, 0}, {1, a, 0, 0}, {2, F0, a, 0}}, ""},
	{"the release is looked up under its own moment", "lshift 12\n1C a - 1E",
	 {{1, a, 0, 0}, {1, lshift, 0, 0}, {2, F0, a, 0}}, " 30 1 \n"},
	{"two codes on one bit: letting go of either clears it",
	 "rcmd 1F\nrcmd 27\n1C a - 1E\n1C a M 05",
	 {{2, E0, lwin, 0}, {2, E0, rwin, 0}, {3, E0, F0, rwin}, {1, a, 0, 0}}, " 30 1 \n"},
};

TEST_F(keyboard_frame, modifiers)
{
	for (const frame_case &c : modifier_cases)
		run(c);
}

const frame_case light_cases[] = {
	{"NumLock press switches the light, release leaves it", "77 NumLock - 45",
	 {{1, num_lock, 0, 0}, {2, F0, num_lock, 0}, {1, num_lock, 0, 0}},
	 " 69 1 \n 69 0 \n 69 1 \n", "k\xED\x02"s "k\xED\x00"s},
	{"NumLock and Caps together", "77 NumLock - 45\n58 Caps - 3A",
	 {{1, num_lock, 0, 0}, {1, caps, 0, 0}, {1, num_lock, 0, 0}, {1, caps, 0, 0}},
	 " 69 1 \n 58 1 \n 69 1 \n 58 1 \n", "k\xED\x02"s "k\xED\x06"s "k\xED\x04"s "k\xED\x00"s},
	{"the names count exactly, case included", "77 numlock - 45\n58 CAPS - 3A",
	 {{1, num_lock, 0, 0}, {1, caps, 0, 0}}, " 69 1 \n 58 1 \n"},
	{"the name, not the scan code, drives the light", "1C NumLock - 1E\nE058 Caps - 3A",
	 {{1, a, 0, 0}, {2, E0, caps, 0}}, " 30 1 \n 58 1 \n", "k\xED\x02"s "k\xED\x06"s},
	{"a light key with value 0 sends no event", "58 Caps - 0",
	 {{1, caps, 0, 0}, {2, F0, caps, 0}}, "", "k\xED\x04"s},
	{"no slot under shift: no light either", "lshift 12\n58 Caps - 3A",
	 {{1, lshift, 0, 0}, {1, caps, 0, 0}}, ""},
};

TEST_F(keyboard_frame, lock_lights)
{
	for (const frame_case &c : light_cases)
		run(c);
}

const frame_case wrapped_cases[] = {
	{"wrapped, no shift", "1C a - 1E05", {{1, a, 0, 0}, {2, F0, a, 0}},
	 " 30 1 \n 5 1 \n 5 0 \n 30 0 \n"},
	{"wrapped, lshift held throughout", "lshift 12\n1C a S 1E05",
	 {{1, lshift, 0, 0}, {1, a, 0, 0}, {2, F0, a, 0}},
	 " 27 0 \n 30 1 \n 5 1 \n 5 0 \n 27 1 \n 30 0 \n"},
	{"wrapped, rshift held throughout", "rshift 59\n1C a S 1E05",
	 {{1, rshift, 0, 0}, {1, a, 0, 0}, {2, F0, a, 0}},
	 " 27 0 \n 30 1 \n 5 1 \n 5 0 \n 27 1 \n 30 0 \n"},
	{"wrapped, shift let go before the key", "lshift 12\n1C a - 1E05\n1C a S 1E05",
	 {{1, lshift, 0, 0}, {1, a, 0, 0}, {2, F0, lshift, 0}, {2, F0, a, 0}},
	 " 27 0 \n 30 1 \n 5 1 \n 5 0 \n 30 0 \n"},
	{"wrapped under ctrl: only shift adds 27", "lctrl 14\n1C a C 1E05", {{1, ctrl, 0, 0},
	 {1, a, 0, 0}}, " 30 1 \n 5 1 \n"},
	{"bits 16-31 carry no meaning", "1C a - 7F1E05\n1D b - 1E0005",
	 {{1, a, 0, 0}, {1, 0x1D, 0, 0}}, " 30 1 \n 5 1 \n 5 1 \n"},
	{"00 in bits 8-15 is no wrapped key", "1C a - 0005", {{1, a, 0, 0}}, " 5 1 \n"},
	{"1F in bits 8-15 is no wrapped key", "1C a - 1F05", {{1, a, 0, 0}}, " 5 1 \n"},
	{"a wrapped key with code 0", "1C a - 1E00", {{1, a, 0, 0}}, " 30 1 \n 0 1 \n"},
};

TEST_F(keyboard_frame, wrapped_keys)
{
	for (const frame_case &c : wrapped_cases)
		run(c);
}

const frame_case raw_cases[] = {
	{"press and release", "1C a - 1E", {{1, a, 0, 0}, {2, F0, a, 0}}, "\x1E\x01\x1E\x00"s},
	{"code 0 is a real zero byte", "1C a - 100", {{1, a, 0, 0}, {2, F0, a, 0}},
	 "\x00\x01\x00\x00"s},
	{"code 255", "1C a - FF", {{1, a, 0, 0}}, "\xFF\x01"s},
	{"wrapped with shift", "lshift 12\n1C a S 1E05", {{1, lshift, 0, 0}, {1, a, 0, 0}},
	 "\x1B\x00\x1E\x01\x05\x01"s},
};

TEST_F(keyboard_frame, raw_form_on_the_key_injection_device)
{
	for (const frame_case &c : raw_cases)
		run(c, true);
}

// Typing on a real keyboard through the shipped map: the byte sequences are
// what a US 104-key keyboard sends, split into frames as the adapter does.
const frame_case sample_sessions[] = {
	{"shift+a", nullptr, {{1, lshift, 0, 0}, {1, a, 0, 0}, {2, F0, a, 0}, {2, F0, lshift, 0}},
	 " 42 1 \n 30 1 \n 30 0 \n 42 0 \n"},
	{"right ctrl+c", nullptr,
	 {{2, E0, ctrl, 0}, {1, 0x21, 0, 0}, {2, F0, 0x21, 0}, {3, E0, F0, ctrl}},
	 " 97 1 \n 46 1 \n 46 0 \n 97 0 \n"},
	{"ctrl+shift+left", nullptr,
	 {{1, ctrl, 0, 0}, {1, lshift, 0, 0}, {2, E0, 0x6B, 0}, {3, E0, F0, 0x6B},
	  {2, F0, lshift, 0}, {2, F0, ctrl, 0}},
	 " 29 1 \n 42 1 \n 105 1 \n 105 0 \n 42 0 \n 29 0 \n"},
	{"modifiers let go out of order never stick", nullptr,
	 {{1, lshift, 0, 0}, {1, alt, 0, 0}, {2, E0, lwin, 0}, {2, E0, alt, 0}, {1, ctrl, 0, 0},
	  {2, F0, lshift, 0}, {3, E0, F0, lwin}, {2, F0, ctrl, 0}, {3, E0, F0, alt},
	  {2, F0, alt, 0}},
	 " 42 1 \n 56 1 \n 125 1 \n 100 1 \n 29 1 \n 42 0 \n 125 0 \n 29 0 \n 100 0 \n"
	 " 56 0 \n"},
	{"F1 let go while ctrl is held still comes up", nullptr,
	 {{1, 0x05, 0, 0}, {1, ctrl, 0, 0}, {2, F0, 0x05, 0}, {2, F0, ctrl, 0}},
	 " 59 1 \n 29 1 \n 59 0 \n 29 0 \n"},
	{"alt+a sends only alt", nullptr,
	 {{1, alt, 0, 0}, {1, a, 0, 0}, {2, F0, a, 0}, {2, F0, alt, 0}}, " 56 1 \n 56 0 \n"},
	{"PrintScreen inside its fake shift", nullptr,
	 {{2, E0, lshift, 0}, {2, E0, 0x7C, 0}, {3, E0, F0, 0x7C}, {3, E0, F0, lshift}},
	 " 99 1 \n 99 0 \n"},
	{"Insert while shift is held: the fake shift is let go around it", nullptr,
	 {{1, lshift, 0, 0}, {3, E0, F0, lshift}, {2, E0, 0x70, 0}, {3, E0, F0, 0x70},
	  {2, E0, lshift, 0}, {2, F0, lshift, 0}},
	 " 42 1 \n 110 1 \n 110 0 \n 42 0 \n"},
	{"keypad Enter and Enter", nullptr, {{2, E0, 0x5A, 0}, {1, 0x5A, 0, 0}},
	 " 96 1 \n 28 1 \n"},
	{"NumLock, then Caps with shift held", nullptr,
	 {{1, num_lock, 0, 0}, {2, F0, num_lock, 0}, {1, lshift, 0, 0}, {1, caps, 0, 0},
	  {2, F0, caps, 0}, {2, F0, lshift, 0}},
	 " 69 1 \n 69 0 \n 42 1 \n 58 1 \n 58 0 \n 42 0 \n", "k\xED\x02"s "k\xED\x06"s},
	{"Pause, its tail, then a", nullptr,
	 {{3, E1, 0x14, 0x77}, {3, E1, F0, 0x14}, {2, F0, 0x77, 0}, {1, 0, 0, 0}, {1, a, 0, 0}},
	 " 119 1 \n 30 1 \n"},
};

TEST_F(keyboard_frame, typing_through_the_sample_map)
{
	for (const frame_case &c : sample_sessions) {
		SCOPED_TRACE(c.legend);
		reset_daemon(false);
		ASSERT_EQ(load_key_map(sample_key_map_path().c_str()), 0);
		for (const payload &bytes : c.frames)
			handle_keyboard_frame(frame_of(keyboard_header, bytes));
		EXPECT_EQ(key_bytes(), c.key_events);
		EXPECT_EQ(adapter_bytes(), c.adapter);
	}
}

} // namespace
