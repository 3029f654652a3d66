// Joystick frames in, one key event per changed button out.
//
// Each case names the buttons with "J" lines, feeds joystick frames (byte 2
// buttons 8-15, byte 3 buttons 0-7) and compares the exact text that reached
// the keyboard device, in button order.
#include "key_test_support.h"

namespace {

struct joystick_case {
	const char *legend;
	const char *key_map;
	std::vector<payload> frames; // payload bytes 1..4 of joystick frames
	const char *key_events;
};

// Buttons 0-15 as key codes 1-16, so every event says which button it was.
constexpr const char *all_buttons =
	"J 0 b0 1\nJ 1 b1 2\nJ 2 b2 3\nJ 3 b3 4\nJ 4 b4 5\nJ 5 b5 6\nJ 6 b6 7\nJ 7 b7 8\n"
	"J 8 b8 9\nJ 9 b9 A\nJ 10 b10 B\nJ 11 b11 C\nJ 12 b12 D\nJ 13 b13 E\nJ 14 b14 F\n"
	"J 15 b15 10\n";

const joystick_case joystick_cases[] = {
	{"the first frame is compared with no button down", all_buttons, {{0, 0x01, 0x05, 0}},
	 " 1 1 \n 3 1 \n 9 1 \n"},
	{"the same buttons again send nothing", all_buttons, {{0, 0, 0x05, 0}, {0, 0, 0x05, 0}},
	 " 1 1 \n 3 1 \n"},
	{"bytes 1 and 4 carry no buttons", all_buttons, {{0xFF, 0, 0, 0xFF}, {0x01, 0, 0, 0x80}},
	 ""},
	{"button 8, then button 0: press 0 comes before release 8", all_buttons,
	 {{0, 0x00, 0x00, 0}, {0, 0x01, 0x00, 0}, {0, 0x00, 0x01, 0}},
	 " 9 1 \n 1 1 \n 9 0 \n"},
	{"all 16 pressed at once, in button order", all_buttons, {{0, 0xFF, 0xFF, 0}},
	 " 1 1 \n 2 1 \n 3 1 \n 4 1 \n 5 1 \n 6 1 \n 7 1 \n 8 1 \n"
	 " 9 1 \n 10 1 \n 11 1 \n 12 1 \n 13 1 \n 14 1 \n 15 1 \n 16 1 \n"},
	{"releases and presses mixed, in button order", all_buttons,
	 {{0, 0x00, 0xFF, 0}, {0, 0xFF, 0x00, 0}},
	 " 1 1 \n 2 1 \n 3 1 \n 4 1 \n 5 1 \n 6 1 \n 7 1 \n 8 1 \n"
	 " 1 0 \n 2 0 \n 3 0 \n 4 0 \n 5 0 \n 6 0 \n 7 0 \n 8 0 \n"
	 " 9 1 \n 10 1 \n 11 1 \n 12 1 \n 13 1 \n 14 1 \n 15 1 \n 16 1 \n"},
	{"a held button is not repeated", all_buttons, {{0, 0x80, 0, 0}, {0, 0x80, 0x01, 0},
	 {0, 0x80, 0, 0}, {0, 0, 0, 0}},
	 " 16 1 \n 1 1 \n 1 0 \n 16 0 \n"},
	{"a button without a J line sends key code 0", "J 0 fire 1C",
	 {{0, 0x00, 0x03, 0}, {0, 0x00, 0x00, 0}}, " 28 1 \n 0 1 \n 28 0 \n 0 0 \n"},
	{"only the low byte is sent, never wrapped", "J 0 a 141\nJ 1 b 1E05",
	 {{0, 0, 0x03, 0}}, " 65 1 \n 5 1 \n"},
};

class joystick_frame : public device_test {};

TEST_F(joystick_frame, changed_buttons_become_key_events)
{
	for (const joystick_case &c : joystick_cases) {
		SCOPED_TRACE(c.legend);
		reset_daemon(false);
		load_key_map_text(c.key_map);
		for (const payload &bytes : c.frames)
			handle_joystick_frame(frame_of(joystick_header, bytes));
		EXPECT_EQ(key_bytes(), c.key_events);
	}
}

TEST_F(joystick_frame, the_keyboard_state_is_left_alone)
{
	load_key_map_text("lshift 12\nJ 0 a 1E\nJ 1 b 30\n");
	modifier_state = 0x11;
	skip_frames = 2;
	led_state = 0x04;
	for (uint8_t buttons : {0x03, 0x01, 0x00})
		handle_joystick_frame(frame_of(joystick_header, {0, 0, buttons, 0}));
	EXPECT_EQ(key_bytes(), " 30 1 \n 48 1 \n 48 0 \n 30 0 \n");
	EXPECT_EQ(modifier_state, 0x11u);
	EXPECT_EQ(skip_frames, 2);
	EXPECT_EQ(led_state, 0x04u);
	EXPECT_EQ(adapter_bytes(), "");
}

TEST_F(joystick_frame, the_sample_map_names_eight_buttons)
{
	ASSERT_EQ(load_key_map(sample_key_map_path().c_str()), 0);
	handle_joystick_frame(frame_of(joystick_header, {0, 0x01, 0x01, 0}));
	// Button 0 is the Up arrow; button 8 has no line.
	EXPECT_EQ(key_bytes(), " 103 1 \n 0 1 \n");
}

} // namespace
