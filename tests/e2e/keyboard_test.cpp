// Keys and joystick buttons through the real daemon: scan-code and button
// frames go in on the serial line, key events come out on the keyboard or
// key-injection device and light commands come back to the adapter. Each
// test runs a short typing session from a key map of its own and checks
// every byte that the handheld and the adapter would see, in order.
#include "harness.h"

#include <cstdio>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

using e2e::daemon_config;
using e2e::daemon_run;
using e2e::device_kind;
using bytes = std::vector<uint8_t>;

const std::string key_map_not_found = "Key map file is not found\n";

bytes frame(uint8_t header, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4)
{
	return {header, b1, b2, b3, b4, static_cast<uint8_t>(b1 + b2 + b3 + b4)};
}

// A keyboard frame: "K", the count, the scan-code bytes, zero padding.
bytes key(std::vector<uint8_t> codes)
{
	auto count = static_cast<uint8_t>(codes.size());
	codes.resize(3, 0);
	return frame('K', count, codes[0], codes[1], codes[2]);
}

// A joystick frame: byte 2 holds buttons 8-15, byte 3 buttons 0-7.
bytes joystick(uint8_t high, uint8_t low) { return frame('J', 0, high, low, 0); }

bytes frames(std::initializer_list<bytes> parts)
{
	bytes all;
	for (const bytes &part : parts)
		all.insert(all.end(), part.begin(), part.end());
	return all;
}

// Press and release of a plain key.
bytes tap(uint8_t code) { return frames({key({code}), key({0xF0, code})}); }

// Key events in the text form of the keyboard device, " code down \n".
std::string events(std::initializer_list<std::pair<int, int>> list)
{
	std::string text;
	for (auto [code, down] : list)
		text += " " + std::to_string(code) + " " + std::to_string(down) + " \n";
	return text;
}

// The adapter's set-LEDs command: "k", 0xED, the light bits.
std::string lights(uint8_t bits) { return std::string{'k', '\xED', static_cast<char>(bits)}; }

// One step of a session: frames sent, and what they must produce.
struct step {
	const char *legend;
	bytes sent;
	std::string key_events; // on the key device
	std::string adapter = {}; // light commands back on the line
};

// Sends each step's frames and compares what the step added on the key
// device and on the line. A light command that a step sends unasked would
// show up in front of a later step's commands.
void run_session(daemon_run &run, std::span<const step> steps, const char *device = "kbd")
{
	std::size_t seen = 0;
	for (const step &s : steps) {
		SCOPED_TRACE(s.legend);
		ASSERT_TRUE(run.send_and_wait(s.sent));
		std::string text = run.device_text(device);
		EXPECT_EQ(text.substr(std::min(seen, text.size())), s.key_events);
		seen = text.size();
		if (!s.adapter.empty()) {
			EXPECT_EQ(e2e::bytes_text(run.read_adapter(s.adapter.size())), s.adapter);
		}
	}
}

daemon_config with_map(const char *map)
{
	daemon_config config;
	config.key_map = map;
	return config;
}

void put_file(const std::string &path, const std::string &text)
{
	FILE *file = fopen(path.c_str(), "wb");
	ASSERT_NE(file, nullptr) << path;
	fwrite(text.data(), 1, text.size(), file);
	fclose(file);
}

std::size_t count_of(const std::string &text, const std::string &part)
{
	std::size_t count = 0;
	for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
		++count;
	return count;
}

// Ends a session with SIGTERM; the daemon leaves through its clean-up with
// status 1, and nothing it did on the way tripped a memory or UB check.
void expect_stopped_by_signal(daemon_run &run)
{
	auto result = run.stop();
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(run.stderr_text().find("Sanitizer"), std::string::npos) << run.stderr_text();
	EXPECT_EQ(run.stderr_text().find("runtime error"), std::string::npos) << run.stderr_text();
}

// Pause sends E1 14 77 E1 F0 14 F0 77, which the adapter passes on in four
// frames: the first is the key, the other three are ignored whatever they
// hold.
TEST(keyboard, pause_ignores_the_three_keyboard_frames_after_it)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run(with_map("lshift 12\n"
				"E080 Pause S 77\n"
				"1C a - 40\n"
				"1C a S 41\n"));
	ASSERT_TRUE(run.start());
	const step session[] = {
		{"shift goes down first", key({0x12}), ""},
		{"Pause, under shift, is looked up as E0 80", key({0xE1, 0x14, 0x77}), events({{0x77, 1}})},
		{"a frame with a bad checksum does not count",
		 bytes{'K', 0x01, 0x1C, 0x00, 0x00, 0x1E}, ""},
		{"first ignored frame: shift's release is lost", key({0xF0, 0x12}), ""},
		{"second ignored frame: a press", key({0x1C}), ""},
		{"third ignored frame: even E1 starts nothing", key({0xE1, 0xF0, 0x14}), ""},
		{"the next frame is handled, shift still held", key({0x1C}), events({{0x41, 1}})},
		{"shift released again: a's release under none",
		 frames({key({0xF0, 0x12}), key({0xF0, 0x1C})}), events({{0x40, 0}})},
	};
	run_session(run, session);
	EXPECT_EQ(count_of(run.stdout_text(), "Error checksum\n"), 1u);
	expect_stopped_by_signal(run);
}

// A count byte above 4 would put the scan code outside the six-byte frame:
// such a frame is dropped, but only once it has passed the Pause rule.
TEST(keyboard, frame_with_count_above_four_is_ignored)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run(with_map("E080 Pause - 50\n"
				"1C a - 40\n"
				"32 b - 41\n"
				"21 c - 42\n"
				"23 d - 43\n"));
	ASSERT_TRUE(run.start());
	const step session[] = {
		{"counts 5 and 255 send nothing",
		 frames({frame('K', 0x05, 0x1C, 0x1C, 0x1C), frame('K', 0xFF, 0x1C, 0x1C, 0x1C)}), ""},
		{"count 4 is handled: its code is byte 5, the checksum",
		 frame('K', 0x04, 0x00, 0x00, 0x18), events({{0x40, 1}})},
		{"a count-5 frame is one of the three after Pause",
		 frames({key({0xE1, 0x14, 0x77}), frame('K', 0x05, 0x1C, 0x00, 0x00), key({0x32}),
			 key({0x21}), key({0x23})}),
		 events({{0x50, 1}, {0x43, 1}})},
	};
	run_session(run, session);
	expect_stopped_by_signal(run);
}

// The key lines for "a" send 0x40 plus the combination they are filed
// under, so each event names the combination that was looked up.
TEST(keyboard, left_and_right_modifiers_fold_into_one_combination)
{
	E2E_REQUIRE_NAMESPACES();
	// A real keyboard sends right ctrl and right alt as E0 14 and E0 11,
	// the left keys' codes; here they sit on codes of their own (0F, 17)
	// so that either hand can be held apart from the other.
	daemon_run run(with_map("lshift 12\n"
				"rshift 59\n"
				"lctrl 14\n"
				"rctrl 0F\n"
				"lalt 11\n"
				"ralt 17\n"
				"rcmd 1F\n"
				"rcmd 27\n"
				"12 LeftShift S 2A\n"
				"1C a - 40\n"
				"1C a S 41\n"
				"1C a C 42\n"
				"1C a F 44\n"
				"1C a CF 46\n"
				"1C a M 48\n"));
	ASSERT_TRUE(run.start());
	const bytes a = tap(0x1C);
	auto a_under = [](int combination) {
		return events({{0x40 + combination, 1}, {0x40 + combination, 0}});
	};
	const step session[] = {
		{"nothing held", a, a_under(0)},
		{"left shift's own press is looked up under shift", key({0x12}), events({{0x2A, 1}})},
		{"left shift held", a, a_under(1)},
		{"right shift too: still shift", frames({key({0x59}), a}), a_under(1)},
		{"left shift let go while right is held: its release under shift",
		 frames({key({0xF0, 0x12}), a}), events({{0x2A, 0}}) + a_under(1)},
		{"right shift let go", frames({key({0xF0, 0x59}), a}), a_under(0)},
		{"left shift tapped alone: its release under none sends nothing",
		 frames({key({0x12}), key({0xF0, 0x12})}), events({{0x2A, 1}})},
		{"right ctrl", frames({key({0x0F}), a, key({0xF0, 0x0F})}), a_under(2)},
		{"left alt and left ctrl", frames({key({0x11}), key({0x14}), a, key({0xF0, 0x11}),
						   key({0xF0, 0x14})}),
		 a_under(6)},
		{"right alt", frames({key({0x17}), a, key({0xF0, 0x17})}), a_under(4)},
		{"left ctrl and right alt", frames({key({0x14}), key({0x17}), a, key({0xF0, 0x14}),
						    key({0xF0, 0x17})}),
		 a_under(6)},
		{"right Windows key after E0", frames({key({0xE0, 0x27}), a, key({0xE0, 0xF0, 0x27})}),
		 a_under(8)},
		{"two keys on rcmd: letting go of either clears it",
		 frames({key({0xE0, 0x1F}), key({0xE0, 0x27}), key({0xE0, 0xF0, 0x1F}), a,
			 key({0xE0, 0xF0, 0x27})}),
		 a_under(0)},
		{"E0 12 is shift as well: the prefix does not matter for modifiers",
		 frames({key({0xE0, 0x12}), a, key({0xE0, 0xF0, 0x12}), a}), a_under(1) + a_under(0)},
	};
	run_session(run, session);
	expect_stopped_by_signal(run);
}

TEST(keyboard, key_without_a_line_for_the_held_combination_sends_nothing)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run(with_map("lshift 12\n"
				"32 b - 30\n"));
	ASSERT_TRUE(run.start());
	const step session[] = {
		{"b alone", tap(0x32), events({{0x30, 1}, {0x30, 0}})},
		{"b with shift held: no S line, no event",
		 frames({key({0x12}), tap(0x32), key({0xF0, 0x12})}), ""},
		{"b pressed alone, released with shift held: the release finds no line",
		 frames({key({0x32}), key({0x12}), key({0xF0, 0x32}), key({0xF0, 0x12})}),
		 events({{0x30, 1}})},
	};
	run_session(run, session);
	expect_stopped_by_signal(run);
}

// The daemon never reads the lights back: it keeps its own bits (NumLock
// 0x02, Caps Lock 0x04) and sends them all on every change.
TEST(keyboard, numlock_and_caps_drive_the_keyboard_lights)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run(with_map("77 NumLock - 45\n"
				"58 Caps - 0\n"
				"7E numlock - 46\n"
				"0D CAPS - 0F\n"));
	ASSERT_TRUE(run.start());
	const step session[] = {
		{"NumLock press: light on, key sent", key({0x77}), events({{0x45, 1}}), lights(0x02)},
		{"NumLock release: key only", key({0xF0, 0x77}), events({{0x45, 0}})},
		{"Caps with value 0: light on, nothing sent", tap(0x58), "", lights(0x06)},
		{"NumLock again: its light off", tap(0x77), events({{0x45, 1}, {0x45, 0}}),
		 lights(0x04)},
		{"names that differ in case drive no light", frames({tap(0x7E), tap(0x0D)}),
		 events({{0x46, 1}, {0x46, 0}, {0x0F, 1}, {0x0F, 0}})},
		{"Caps again: all off, a real zero byte", tap(0x58), "", lights(0x00)},
		{"NumLock once more: nothing came in between", key({0x77}), events({{0x45, 1}}),
		 lights(0x02)},
	};
	run_session(run, session);
	expect_stopped_by_signal(run);
}

// A value with 0x1E in bits 8-15 is sent inside key code 30; while shift
// is held, key code 27 is reported up around it.
TEST(keyboard, wrapped_keys_are_sent_inside_key_code_30)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run(with_map("lshift 12\n"
				"rshift 59\n"
				"1C a - 1E05\n"
				"1C a S 1E05\n"
				"32 b - 1F05\n"
				"21 c - 0005\n"));
	ASSERT_TRUE(run.start());
	const step session[] = {
		{"shift clear", tap(0x1C), events({{30, 1}, {5, 1}, {5, 0}, {30, 0}})},
		{"shift held at press and release",
		 frames({key({0x12}), tap(0x1C), key({0xF0, 0x12})}),
		 events({{27, 0}, {30, 1}, {5, 1}, {5, 0}, {27, 1}, {30, 0}})},
		{"right shift held: shift as well",
		 frames({key({0x59}), tap(0x1C), key({0xF0, 0x59})}),
		 events({{27, 0}, {30, 1}, {5, 1}, {5, 0}, {27, 1}, {30, 0}})},
		{"shift let go before the release",
		 frames({key({0x12}), key({0x1C}), key({0xF0, 0x12}), key({0xF0, 0x1C})}),
		 events({{27, 0}, {30, 1}, {5, 1}, {5, 0}, {30, 0}})},
		{"1F or 00 in bits 8-15: a plain key", frames({tap(0x32), tap(0x21)}),
		 events({{5, 1}, {5, 0}, {5, 1}, {5, 0}})},
	};
	run_session(run, session);
	expect_stopped_by_signal(run);
}

// Each text event is on the keyboard device as soon as its frame has been
// handled, while the daemon keeps running.
TEST(keyboard, text_events_reach_the_keyboard_device_one_by_one)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run(with_map("1C a - 1E\n"
				"32 b - FF\n"
				"21 c - 100\n"));
	ASSERT_TRUE(run.start());
	const step session[] = {
		{"press of code 30", key({0x1C}), " 30 1 \n"},
		{"its release", key({0xF0, 0x1C}), " 30 0 \n"},
		{"code 255", key({0x32}), " 255 1 \n"},
		{"code 0", key({0x21}), " 0 1 \n"},
	};
	run_session(run, session);
	std::string before_exit = run.device_text("kbd");
	expect_stopped_by_signal(run);
	EXPECT_EQ(run.device_text("kbd"), before_exit);
}

// With -V the events go to the key-injection device as two raw bytes each,
// buffered; what is still buffered goes out when the daemon ends.
TEST(keyboard, raw_events_reach_the_keypipe_by_exit)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config = with_map("lshift 12\n"
					"1C a - 1E\n"
					"21 c - 100\n"
					"32 b S 1E05\n");
	config.arguments = {"-V"};
	config.kbd = device_kind::absent;
	config.keypipe = device_kind::file;
	daemon_run run(config);
	ASSERT_TRUE(run.start());
	ASSERT_TRUE(run.send_and_wait(frames({tap(0x1C), tap(0x21), key({0x12}), tap(0x32),
					      key({0xF0, 0x12}), joystick(0x00, 0x01)})));
	expect_stopped_by_signal(run);
	const std::string expected("\x1E\x01\x1E\x00"         // a
				   "\x00\x01\x00\x00"         // c: code 0
				   "\x1B\x00\x1E\x01\x05\x01" // shift+b, wrapped
				   "\x05\x00\x1B\x01\x1E\x00"
				   "\x00\x01", // joystick button 0: no J line, code 0
				   22);
	EXPECT_EQ(run.device_text("keypipe"), expected);
}

// Button i sends the low byte of its J line's value; buttons 5 and 12 have
// no line and send code 0.
constexpr int button_code[16] = {0x41, 0x05, 0x12, 0x13, 0x14, 0x00, 0x16, 0x17,
				 0x18, 0x19, 0x1A, 0x1B, 0x00, 0x1D, 0x1E, 0x1F};

std::string all_buttons(uint32_t old_bits, uint32_t new_bits)
{
	std::string text;
	for (int button = 0; button < 16; ++button)
		if ((old_bits ^ new_bits) >> button & 1)
			text += events({{button_code[button], static_cast<int>(new_bits >> button & 1)}});
	return text;
}

TEST(keyboard_joystick, changed_buttons_send_key_events_in_button_order)
{
	E2E_REQUIRE_NAMESPACES();
	// 0x141 and 0x1E05 have bits above the key code: buttons send the low
	// byte alone, never wrapped.
	daemon_run run(with_map("J 0 fire 141\n"
				"J 1 jump 1E05\n"
				"J 2 b2 12\nJ 3 b3 13\nJ 4 b4 14\nJ 6 b6 16\nJ 7 b7 17\n"
				"J 8 b8 18\nJ 9 b9 19\nJ 10 b10 1A\nJ 11 b11 1B\n"
				"J 13 b13 1D\nJ 14 b14 1E\nJ 15 b15 1F\n"));
	ASSERT_TRUE(run.start());
	const step session[] = {
		{"first frame: the buttons already down are pressed", joystick(0x00, 0x09),
		 events({{0x41, 1}, {0x13, 1}})},
		{"the same buttons again: nothing", joystick(0x00, 0x09), ""},
		{"all up", joystick(0x00, 0x00), events({{0x41, 0}, {0x13, 0}})},
		{"a bad checksum changes nothing", bytes{'J', 0x00, 0xFF, 0xFF, 0x00, 0xFF}, ""},
		{"button 8 alone", joystick(0x01, 0x00), events({{0x18, 1}})},
		{"button 0 down and 8 up: button 0 first", joystick(0x00, 0x01),
		 events({{0x41, 1}, {0x18, 0}})},
		{"sixteen buttons change at once", joystick(0xFF, 0xFE), all_buttons(0x0001, 0xFFFE)},
		{"and back", joystick(0x00, 0x01), all_buttons(0xFFFE, 0x0001)},
		{"unnamed buttons 5 and 12 down, button 0 up", joystick(0x10, 0x20),
		 events({{0x41, 0}, {0x00, 1}, {0x00, 1}})},
	};
	run_session(run, session);
	expect_stopped_by_signal(run);
}

// Buttons whose key codes equal the scan codes of shift and NumLock, sent
// while Pause holds the keyboard: none of it touches the keyboard's state.
TEST(keyboard_joystick, buttons_leave_the_keyboard_state_alone)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run(with_map("lshift 12\n"
				"77 NumLock - 45\n"
				"E080 Pause - 50\n"
				"1C a - 40\n"
				"1C a S 41\n"
				"J 0 shift 12\n"
				"J 1 numlock 77\n"));
	ASSERT_TRUE(run.start());
	const step session[] = {
		{"buttons on shift's and NumLock's codes, then a",
		 frames({joystick(0x00, 0x03), tap(0x1C)}),
		 events({{0x12, 1}, {0x77, 1}, {0x40, 1}, {0x40, 0}})},
		{"Pause, then buttons during the ignored frames",
		 frames({key({0xE1, 0x14, 0x77}), joystick(0x00, 0x00), joystick(0x00, 0x01)}),
		 events({{0x50, 1}, {0x12, 0}, {0x77, 0}, {0x12, 1}})},
		{"the buttons did not count: three keyboard frames still ignored, then a",
		 frames({key({0x1C}), key({0xF0, 0x1C}), key({0x1C}), tap(0x1C)}),
		 events({{0x40, 1}, {0x40, 0}})},
		{"the first light command is NumLock's own", key({0x77}), events({{0x45, 1}}),
		 lights(0x02)},
	};
	run_session(run, session);
	expect_stopped_by_signal(run);
}

TEST(keyboard_startup, missing_key_map_ends_before_the_serial_line_is_opened)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.key_map.reset();
	config.serial_option = false;
	config.arguments = {"-p", "/dev/no-such-line"}; // opening it would print a message
	daemon_run run(config);
	auto result = e2e::run_to_end(run);
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(run.stdout_text(), key_map_not_found);
	EXPECT_EQ(run.stderr_text(), "");
	EXPECT_EQ(run.loadkmap_log(), "");
}

TEST(keyboard_startup, console_mode_loads_the_console_map_and_the_ps2_layout)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.key_map = "1C a - 1E\n";
	config.console_key_map = "1C a - 2E\n";
	config.arguments = {"-c"};
	daemon_run run(config);
	ASSERT_TRUE(run.start());
	EXPECT_EQ(run.loadkmap_log(), "loadkmap ps2\n");
	ASSERT_TRUE(run.send_and_wait(tap(0x1C)));
	EXPECT_EQ(run.device_text("kbd"), events({{0x2E, 1}, {0x2E, 0}}));
	expect_stopped_by_signal(run);
}

TEST(keyboard_startup, console_mode_without_its_map_ends_before_the_layout_switch)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.console_key_map.reset(); // the default map alone does not do
	config.arguments = {"-c"};
	daemon_run run(config);
	auto result = e2e::run_to_end(run);
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(run.stdout_text(), key_map_not_found);
	EXPECT_EQ(run.loadkmap_log().find("loadkmap ps2"), std::string::npos);
}

struct mode_case {
	const char *legend;
	std::vector<std::string> arguments;
	const char *layout_log; // what loadkmap got at start-up
};

const mode_case both_modes[] = {
	{"plain", {"-m", "/etc/custom.kmap"}, ""},
	{"console", {"-c", "-m", "/etc/custom.kmap"}, "loadkmap ps2\n"},
};

TEST(keyboard_startup, key_map_option_replaces_the_default_and_the_console_map)
{
	E2E_REQUIRE_NAMESPACES();
	for (const mode_case &mode : both_modes) {
		SCOPED_TRACE(mode.legend);
		daemon_config config;
		config.key_map = "1C a - 1E\n";
		config.console_key_map = "1C a - 2E\n";
		config.arguments = mode.arguments;
		daemon_run run(config);
		put_file(run.etc("custom.kmap"), "1C a - 3E\n");
		ASSERT_TRUE(run.start());
		EXPECT_EQ(run.loadkmap_log(), mode.layout_log);
		ASSERT_TRUE(run.send_and_wait(tap(0x1C)));
		EXPECT_EQ(run.device_text("kbd"), events({{0x3E, 1}, {0x3E, 0}}));
		expect_stopped_by_signal(run);
	}
}

TEST(keyboard_startup, missing_key_map_option_file_ends_the_daemon)
{
	E2E_REQUIRE_NAMESPACES();
	for (const mode_case &mode : both_modes) {
		SCOPED_TRACE(mode.legend);
		daemon_config config;
		config.arguments = mode.arguments; // the defaults are there, custom.kmap is not
		daemon_run run(config);
		auto result = e2e::run_to_end(run);
		EXPECT_TRUE(result.exited);
		EXPECT_EQ(result.status, 1);
		EXPECT_EQ(run.stdout_text(), key_map_not_found);
		EXPECT_EQ(run.loadkmap_log().find("loadkmap ps2"), std::string::npos);
	}
}

// The key map shipped with the daemon, installed as its default map.
std::optional<std::string> sample_key_map()
{
	std::string source = __FILE__; // .../tests/e2e/keyboard_test.cpp
	std::size_t tests = source.rfind("/tests/e2e/");
	if (tests == std::string::npos)
		return std::nullopt;
	std::string text = e2e::read_text(source.substr(0, tests) + "/etc/ser_code_vantor.ini");
	if (text.empty())
		return std::nullopt;
	return text;
}

// Linux key codes: KEY_A 30, KEY_LEFTSHIFT 42, KEY_UP 103, KEY_NUMLOCK 69.
TEST(keyboard_sample_map, typing_gives_the_linux_key_codes)
{
	E2E_REQUIRE_NAMESPACES();
	std::optional<std::string> map = sample_key_map();
	if (!map)
		GTEST_SKIP() << "etc/ser_code_vantor.ini is not in the source tree";
	daemon_run run(with_map(map->c_str()));
	ASSERT_TRUE(run.start());
	const step session[] = {
		{"a", tap(0x1C), events({{30, 1}, {30, 0}})},
		{"shift+a", frames({key({0x12}), tap(0x1C), key({0xF0, 0x12})}),
		 events({{42, 1}, {30, 1}, {30, 0}, {42, 0}})},
		{"up arrow", frames({key({0xE0, 0x75}), key({0xE0, 0xF0, 0x75})}),
		 events({{103, 1}, {103, 0}})},
		{"NumLock and its light", tap(0x77), events({{69, 1}, {69, 0}}), lights(0x02)},
	};
	run_session(run, session);
	expect_stopped_by_signal(run);
}

} // namespace
