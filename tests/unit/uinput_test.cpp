// Key events, mouse frames and lights through the input device form: the
// records a kernel's uinput would take, read back from a socket in its
// place. What only a real kernel shows (capabilities, the event devices,
// the lights written by a reader) is the emulated board's to prove.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "daemon/frame_loop.h"
#include "daemon/in_process.h"
#include "key_test_support.h"
#include "output/input_event_record.h"
#include "output/output_form.h"
#include "output/uinput.h"
#include "serial/frame_payload.h"
#include "serial/serial_line.h"

namespace {

// Each record as "type code value" in hexadecimal, one report per line (its
// SYN_REPORT is the newline).
std::string take_records(int fd)
{
	std::string text;
	input_event_record record{};
	while (read(fd, &record, sizeof record) == sizeof record) {
		if (record.type == EV_SYN) {
			text += "\n";
			continue;
		}
		char entry[40];
		snprintf(entry, sizeof entry, "%s%x %x %x", text.empty() || text.back() == '\n' ? "" : ", ",
			 record.type, record.code, static_cast<unsigned>(record.value));
		text += entry;
	}
	return text;
}

TEST(uinput_form, events_of_frames)
{
	reset_daemon_state();
	load_key_map_text("lshift 12\n12 Shift - 2a\n12 Shift S 2a\n1c a - 1e\n1c A S 1f\n"
			  "E075 Up - 67\n83 F7 - 41\nE080 Pause - 77\n16 1 - 1e02\n77 NumLock - 45\n"
			  "J 0 fire 130\nF1 Hanja - 7b\nF2 Hangeul - 7a\n");
	int keyboard[2], mouse[2];
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, keyboard), 0);
	ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, mouse), 0);
	char *commands = nullptr;
	size_t command_bytes = 0;
	in_process_start start;
	start.options = "-uM";
	start.given.devices.uinput_keyboard = keyboard[0];
	start.given.devices.uinput_mouse = mouse[0];
	start.given.adapter = open_memstream(&commands, &command_bytes);
	auto light = [&](uint16_t code, int32_t value) {
		input_event_record record{0, 0, EV_LED, code, value};
		ASSERT_EQ(write(keyboard[1], &record, sizeof record), ssize_t{sizeof record});
	};
	// The kernel hands the new keyboard the light that is on: start-up
	// takes it and sends the whole state once.
	light(LED_NUML, 1);
	ASSERT_EQ(start_in_process(start), in_process_outcome::started);

	auto key = [](std::initializer_list<uint8_t> codes) {
		return make_keyboard_frame(std::span<const uint8_t>(codes.begin(), codes.size()));
	};
	struct row {
		const char *legend;
		std::vector<serial_frame> frames;
		const char *keyboard, *mouse;
	};
	const row rows[] = {
		{"a held over three make codes: 1, 2, 2, then 0",
		 {key({0x1C}), key({0x1C}),
		  key({0x1C}), key({0xF0, 0x1C})},
		 "4 4 1c, 1 1e 1\n4 4 1c, 1 1e 2\n4 4 1c, 1 1e 2\n4 4 1c, 1 1e 0\n", ""},
		{"a release under shift sends what the press sent, not A's 1f",
		 {key({0x1C}), key({0x12}),
		  key({0xF0, 0x1C}), key({0xF0, 0x12})},
		 "4 4 1c, 1 1e 1\n4 4 12, 1 2a 1\n4 4 1c, 1 1e 0\n4 4 12, 1 2a 0\n", ""},
		{"E0 75 is scan 0xF5, plain 83 is 0x103, a wrapped value its low byte",
		 {key({0xE0, 0x75}), key({0x83}),
		  key({0x16})},
		 "4 4 f5, 1 67 1\n4 4 103, 1 41 1\n4 4 16, 1 2 1\n", ""},
		{"Pause is released at once; its tail is ignored",
		 {key({0xE1, 0x14, 0x77}), key({0xE1, 0xF0, 0x14}),
		  key({0xF0, 0x77}), key({})},
		 "4 4 e11477, 1 77 1\n4 4 e11477, 1 77 0\n", ""},
		{"Hanja and Hangeul have no break code: released right after the press",
		 {key({0xF1}), key({0xF2})},
		 "4 4 171, 1 7b 1\n4 4 171, 1 7b 0\n4 4 172, 1 7a 1\n4 4 172, 1 7a 0\n", ""},
		{"NumLock is a key like any other: the system drives the light",
		 {key({0x77})}, "4 4 77, 1 45 1\n", ""},
		{"a joystick button: a key code above 255, no scan code",
		 {make_joystick_frame(1), make_joystick_frame(0)}, "1 130 1\n1 130 0\n", ""},
		{"mouse: Y changes sign, buttons as keys, nothing for a frame without change",
		 {make_mouse_frame(5, -3, 1), make_mouse_frame(0, 0, 1),
		  make_mouse_frame(-1, 0, 2)},
		 "", "2 0 5, 2 1 3, 1 110 1\n2 0 ffffffff, 1 110 0, 1 111 1\n"},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.legend);
		for (const serial_frame &frame : r.frames)
			for (uint8_t byte : frame)
				(void)handle_serial_byte(byte);
		EXPECT_EQ(take_records(keyboard[1]), r.keyboard);
		EXPECT_EQ(take_records(mouse[1]), r.mouse);
	}

	// The system sets Caps Lock, then NumLock and Caps Lock go off and
	// Scroll Lock on: one command each time, for the state at that moment.
	light(LED_CAPSL, 1);
	carry_system_lights();
	light(LED_NUML, 0);
	light(LED_CAPSL, 0);
	light(LED_SCROLLL, 1);
	carry_system_lights();
	carry_system_lights();
	(void)fflush(serial_line.adapter_out);
	// (After start-up's mouse-enable command and its one light command.)
	EXPECT_EQ(std::string(commands, command_bytes), "ek\xED\x02k\xED\x06k\xED\x01");

	// Exit: keys still down are released before the devices go.
	outputs.form->close();
	EXPECT_EQ(take_records(keyboard[1]), "1 2 0\n1 45 0\n1 41 0\n1 67 0\n");
	EXPECT_EQ(take_records(mouse[1]), "1 111 0\n");
	(void)fclose(serial_line.adapter_out);
	free(commands);
	for (int fd : {keyboard[1], mouse[1]})
		close(fd);
	reset_daemon_state();
}

#ifdef PS2_FAILING_DEVICES
// Making the devices, with the uinput device failing as the test's library
// makes it (tests/support/fake_fb.cpp): a kernel before 4.5 refuses
// UI_DEV_SETUP and takes the whole device record written instead, mouse
// first; a device the user may not open gets the hint that says so.
TEST(uinput_form, making_the_devices)
{
	const std::string record_file = testing::TempDir() + "uinput_records";
	char denied[160];
	(void)snprintf(denied, sizeof denied, uinput_open_failed_format, "/dev/uinput",
		       strerror(EACCES), uinput_permission_hint);
	struct row {
		const char *legend;
		std::string fake_uinput;
		int opened;
		std::string printed;
		std::vector<std::pair<std::string, uint16_t>> records; // name, product
	};
	const row rows[] = {
		{"UI_DEV_SETUP refused: the device record is written", "old:" + record_file, 0, "",
		 {{uinput_mouse_name, 0x0002}, {uinput_keyboard_name, 0x0001}}},
		{"permission denied: the hint names it", "denied", -1, denied, {}},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.legend);
		reset_daemon_state();
		(void)remove(record_file.c_str());
		ASSERT_EQ(setenv("FAKE_UINPUT", r.fake_uinput.c_str(), 1), 0);
		testing::internal::CaptureStdout();
		int opened = uinput_form.open(true, nullptr);
		(void)fflush(stdout);
		EXPECT_EQ(testing::internal::GetCapturedStdout(), r.printed);
		EXPECT_EQ(opened, r.opened);
		if (opened == 0)
			uinput_form.close();
		(void)unsetenv("FAKE_UINPUT");

		std::vector<uinput_user_dev> written(3);
		int fd = open(record_file.c_str(), O_RDONLY | O_CLOEXEC);
		ssize_t length = fd < 0 ? 0 : read(fd, written.data(), written.size() * sizeof written[0]);
		if (fd >= 0)
			close(fd);
		ASSERT_EQ(length, static_cast<ssize_t>(r.records.size() * sizeof written[0]));
		for (std::size_t i = 0; i < r.records.size(); ++i) {
			EXPECT_STREQ(written[i].name, r.records[i].first.c_str());
			EXPECT_EQ(written[i].id.bustype, BUS_RS232);
			EXPECT_EQ(written[i].id.vendor, 0x5032);
			EXPECT_EQ(written[i].id.product, r.records[i].second);
			EXPECT_EQ(written[i].id.version, 0x0110);
		}
	}
	(void)remove(record_file.c_str());
	reset_daemon_state();
}
#endif

} // namespace
