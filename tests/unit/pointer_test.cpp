// The pointer's arithmetic and its touch lines: calibration file, inverse touch transform,
// mouse motion and the line written to the touch device.
//
// The touch device takes whatever numbers arrive, so a wrong sign, a wrong truncation or a
// swapped axis only shows as a pointer that lands in the wrong place. These tests pin the
// numbers, the exact line text and the warnings on standard error.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "core/settings.h"
#include "core/stop_request.h"
#include "pointer/cursor.h"
#include "pointer/mouse_frame.h"
#include "output/touch_text.h"
#include "pointer/calibration.h"
#include "pointer/framebuffer.h"
#include "pointer/panel.h"
#include "serial/frame_payload.h"
#include "daemon_state.h"
#include "test_screen.h"

namespace {

using scaled_values = std::array<double, calibration_count>;

// Runs the action with the stream's descriptor pointed at a scratch file; returns what was
// written there.
template <typename F> std::string captured(FILE *stream, F &&action)
{
	(void)fflush(stream);
	int fd = fileno(stream);
	int saved = dup(fd);
	FILE *sink = tmpfile();
	if (saved < 0 || !sink)
		ADD_FAILURE() << "cannot redirect the stream";
	else
		(void)dup2(fileno(sink), fd);
	action();
	(void)fflush(stream);
	std::string text;
	if (saved >= 0 && sink) {
		(void)dup2(saved, fd);
		rewind(sink);
		char buffer[256];
		std::size_t count;
		while ((count = fread(buffer, 1, sizeof buffer, sink)) > 0)
			text.append(buffer, count);
	}
	if (saved >= 0)
		(void)close(saved);
	if (sink)
		(void)fclose(sink);
	return text;
}

std::string temp_file_with(std::string_view content)
{
	std::string path = testing::TempDir() + "pointercal_XXXXXX";
	int fd = mkstemp(path.data());
	if (fd < 0) {
		ADD_FAILURE() << "mkstemp failed";
		return path;
	}
	if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
		ADD_FAILURE() << "short write to " << path;
	(void)close(fd);
	return path;
}

TEST(calibration, scale_truncates_toward_zero_before_the_conversion)
{
	const struct {
		int32_t value;
		double scaled;
	} cases[] = {
		{65536, 65.0}, {999, 0.0}, {1000, 1.0}, {1999, 1.0}, {2000, 2.0}, {0, 0.0},
		{-999, 0.0}, {-1000, -1.0}, {-1999, -1.0}, {-65536, -65.0},
		{INT32_MAX, 2147483.0}, {INT32_MIN, -2147483.0},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.value);
		EXPECT_EQ(scale_calibration(c.value), c.scaled);
	}
}

const char *const format_warning = calibration_format_warning;

struct calibration_case {
	const char *legend;
	const char *content; // null: no such file
	int valid;
	std::array<int32_t, calibration_count> values;
	scaled_values scaled;
	const char *warning;
};

const calibration_case calibration_cases[] = {
	{"identity", "1000 0 0 0 1000 0 1000\n", 1, {1000, 0, 0, 0, 1000, 0, 1000},
	 {1, 0, 0, 0, 1, 0, 1}, ""},
	{"spread over lines and tabs", "2000\n0\t100000\n\n 0 -3000\n200000 65536", 1,
	 {2000, 0, 100000, 0, -3000, 200000, 65536}, {2, 0, 100, 0, -3, 200, 65}, ""},
	{"whole thousands truncated toward zero", "2999 999 100999 -999 -3999 200999 65536\n", 1,
	 {2999, 999, 100999, -999, -3999, 200999, 65536}, {2, 0, 100, 0, -3, 200, 65}, ""},
	{"text and an eighth number after the seventh are ignored",
	 "1 2 3 4 5 6 7 8 and more\n", 1, {1, 2, 3, 4, 5, 6, 7}, {0, 0, 0, 0, 0, 0, 0}, ""},
	{"a letter in the fourth field", "10 20 30 x 40 50 60\n", 0, {10, 20, 30, 0, 0, 0, 0},
	 {0, 0, 0, 0, 0, 0, 0}, format_warning},
	{"six numbers: the divisor is there, s7 is not", "1000 0 0 0 1000 0\n", 0,
	 {1000, 0, 0, 0, 1000, 0, 0}, {1, 0, 0, 0, 1, 0, 0}, format_warning},
	{"empty file", "", 0, {}, {}, format_warning},
	{"text only", "calibrated\n", 0, {}, {}, format_warning},
	{"no file", nullptr, 0, {}, {}, calibration_missing_warning},
};

TEST(calibration, read_from_file)
{
	for (const calibration_case &c : calibration_cases) {
		SCOPED_TRACE(c.legend);
		std::string path = c.content ? temp_file_with(c.content)
					     : testing::TempDir() + "no_such_pointercal";
		reset_daemon_state();
		calibration.valid = 1; // the read must clear it
		std::string warning = captured(stderr, [&] { read_calibration(path.c_str()); });
		if (c.content)
			(void)remove(path.c_str());

		EXPECT_EQ(warning, c.warning);
		EXPECT_EQ(calibration.valid, c.valid);
		EXPECT_EQ(calibration.values, c.values);
		EXPECT_EQ(calibration.scaled, c.scaled);
	}
}

// Without a framebuffer the daemon runs on without a cursor; a device that refuses the
// screen requests says "error" and is closed again.
TEST(framebuffer, failed_mapping_leaves_the_screen_unmapped)
{
	const struct {
		const char *legend;
		bool exists;
		const char *printed;
	} cases[] = {
		{"no device", false, ""},
		{"not a framebuffer", true, screen_request_failed_message},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.legend);
		std::string path = c.exists ? temp_file_with("not a screen")
					    : testing::TempDir() + "no_such_fb0";
		reset_daemon_state();
		int probe = -1;
		std::string printed = captured(stdout, [&] {
			// The descriptor the mapping will get: the lowest free one.
			probe = dup(0);
			(void)close(probe);
			map_framebuffer(path.c_str());
		});
		if (c.exists)
			(void)remove(path.c_str());

		EXPECT_EQ(printed, c.printed);
		EXPECT_EQ(screen_map.pixels, nullptr);
		EXPECT_EQ(screen_map.limit_end, nullptr);
		EXPECT_EQ(fcntl(probe, F_GETFD), -1) << "descriptor " << probe << " left open";
	}
}

struct transform_case {
	const char *legend;
	scaled_values scaled;
	bool rotated;
	int mouse_x, mouse_y;
	int touch_x, touch_y;
};

constexpr double big = 1e10;

// Only the first rows can come from a calibration file: its values are below 2147484 once
// scaled, so with a divisor every quotient fits an int. The others guard the conversion.
const transform_case transform_cases[] = {
	{"identity", {1, 0, 0, 0, 1, 0, 1}, false, 100, 50, 50, 100},
	{"worked example", {2, 0, 100, 0, -3, 200, 65}, false, 20, 10, 275, -366},
	{"worked example at the origin", {2, 0, 100, 0, -3, 200, 65}, false, 0, 0, -50, 66},
	{"the cross terms play no part", {2, 7, 100, -9, -3, 200, 65}, false, 20, 10, 275, -366},
	{"divisor without s7: the numbers still count", {1, 0, 0, 0, 1, 0, 0}, false, 100, 50, 0,
	 0},
	{"no calibration: the screen position", {}, false, 100, 50, 50, 100},
	{"s1 zero (a1 within 999)", {0, 0, 0, 0, 1, 0, 1}, false, 639, 479, 479, 639},
	{"s5 zero", {1, 0, 7, 0, 0, 9, 1}, false, 7, 3, 3, 7},
	{"both quotients beyond int", {1, 0, 0, 0, 1, 0, big}, false, 100, 50, 50, 100},
	{"touch_y alone beyond int", {1, 0, 0, 0, 1, -3e9, 1}, false, 100, 50, 50, 100},
	{"not finite", {1, 0, 0, 0, 1, 0, INFINITY}, false, 100, 50, 50, 100},
	{"not a number: 0 times infinity in both", {1, 0, 0, 0, 1, 0, INFINITY}, false, 0, 0, 0,
	 0},
	{"largest int", {1, 0, -2147483647.0, 0, 1, 0, 0}, false, 0, 0, INT_MAX, 0},
	{"just past the largest int", {1, 0, -2147483648.0, 0, 1, 0, 0}, false, 8, 9, 9, 8},
	{"smallest int, fraction dropped", {1, 0, 2147483648.5, 0, 1, 0, 0}, false, 0, 0, INT_MIN,
	 0},
	{"just past the smallest int", {1, 0, 2147483649.0, 0, 1, 0, 0}, false, 8, 9, 9, 8},
	{"rotated: the transform itself is the same", {1, 0, 0, 0, 1, 0, 1}, true, 100, 50, 50,
	 100},
	{"rotated: 480 - x still fits", {1, 0, 2147483167.0, 0, 1, 0, 0}, true, 0, 0,
	 -2147483167, 0},
	{"rotated: 480 - x would not fit", {1, 0, 2147483168.0, 0, 1, 0, 0}, true, 8, 9, 9, 8},
	{"unrotated, the same x is fine", {1, 0, 2147483168.0, 0, 1, 0, 0}, false, 8, 9,
	 -2147483168, 0},
};

TEST(touch_transform, inverse_calibration)
{
	for (const transform_case &c : transform_cases) {
		SCOPED_TRACE(c.legend);
		reset_daemon_state();
		calibration.scaled = c.scaled;
		active_settings.touch_rotated = c.rotated;
		touch_point touch = touch_of_position(c.mouse_x, c.mouse_y);
		EXPECT_EQ(touch.x, c.touch_x);
		EXPECT_EQ(touch.y, c.touch_y);
	}
	reset_daemon_state();
}

serial_frame mouse_frame(uint8_t status, uint8_t x_motion, uint8_t y_motion)
{
	return make_mouse_frame_bytes(status, x_motion, y_motion);
}

// Every case starts from a fresh daemon: pointer at the origin, no calibration, no cursor,
// no screen, touch lines collected in memory.
class mouse_frames : public testing::Test {
protected:
	void SetUp() override
	{
		reset_daemon_state();
		active_settings.console_mode = true;
		touch_out = open_memstream(&text, &length);
		ASSERT_NE(touch_out, nullptr);
	}

	void TearDown() override
	{
		(void)fclose(touch_out);
		touch_out = nullptr;
		free(text);
		reset_daemon_state();
	}

	// The lines written since the last call.
	std::string take_lines()
	{
		(void)fflush(touch_out);
		std::string lines(text + taken, length - taken);
		taken = length;
		return lines;
	}

	char *text = nullptr;
	std::size_t length = 0;
	std::size_t taken = 0;
};

void use_identity_calibration()
{
	calibration.scaled = {1, 0, 0, 0, 1, 0, 1};
}

struct motion_case {
	const char *legend;
	int start_x, start_y;
	uint8_t status, x_motion, y_motion;
	int end_x, end_y;
	const char *line; // identity calibration: touch_x = mouse_y, touch_y = mouse_x
};

const motion_case motion_cases[] = {
	{"x grows by 5", 0, 0, 0x00, 0x05, 0x00, 5, 0, "0 0 5 0\n"},
	{"x shrinks by 5 (sign bit and 0xFB)", 100, 0, 0x10, 0xFB, 0x00, 95, 0, "0 0 95 0\n"},
	{"y shrinks by 256 (sign bit and 0x00)", 0, 300, 0x20, 0x00, 0x00, 0, 44, "0 44 0 0\n"},
	{"y grows by 255", 0, 0, 0x00, 0x00, 0xFF, 0, 255, "0 255 0 0\n"},
	{"x by -256 and y by -1 at once", 300, 100, 0x30, 0x00, 0xFF, 44, 99, "0 99 44 0\n"},
	{"x stops at 639", 600, 0, 0x00, 100, 0x00, 639, 0, "0 0 639 0\n"},
	{"x one past the last row", 639, 0, 0x00, 0x01, 0x00, 639, 0, "0 0 639 0\n"},
	{"y stops at 479", 0, 400, 0x00, 0x00, 0xFF, 0, 479, "0 479 0 0\n"},
	{"y one past the last column", 0, 479, 0x00, 0x00, 0x01, 0, 479, "0 479 0 0\n"},
	{"y stops at 0", 0, 3, 0x20, 0x00, 0xF6, 0, 0, "0 0 0 0\n"},
	{"x stops at 0", 10, 0, 0x10, 0x80, 0x00, 0, 0, "0 0 0 0\n"},
	{"other buttons and overflow bits change nothing", 50, 50, 0xCE, 0x01, 0x02, 51, 52,
	 "0 52 51 0\n"},
	{"button alone: the old position, pressed", 7, 9, 0x09, 0x00, 0x00, 7, 9, "500 9 7 0\n"},
	{"x and y grow by 255 at once", 0, 0, 0x00, 0xFF, 0xFF, 255, 255, "0 255 255 0\n"},
	{"the y sign moves only y", 384, 224, 0x20, 0x02, 0xFE, 386, 222, "0 222 386 0\n"},
	{"the x sign moves only x", 386, 222, 0x10, 0xFE, 0x02, 384, 224, "0 224 384 0\n"},
	{"both negative, y past its edge", 384, 224, 0x30, 0x01, 0x01, 129, 0, "0 0 129 0\n"},
};

TEST_F(mouse_frames, motion_and_limits)
{
	use_identity_calibration();
	for (const motion_case &c : motion_cases) {
		SCOPED_TRACE(c.legend);
		pointer.mouse_x = c.start_x;
		pointer.mouse_y = c.start_y;
		handle_mouse_frame(mouse_frame(c.status, c.x_motion, c.y_motion));
		EXPECT_EQ(pointer.mouse_x, c.end_x);
		EXPECT_EQ(pointer.mouse_y, c.end_y);
		EXPECT_EQ(take_lines(), c.line);
	}
}

struct line_case {
	const char *legend;
	scaled_values scaled;
	bool rotated;
	int mouse_x, mouse_y;
	uint8_t status;
	const char *line;
};

const scaled_values identity = {1, 0, 0, 0, 1, 0, 1};
const scaled_values example = {2, 0, 100, 0, -3, 200, 65};

const line_case line_cases[] = {
	{"button down", identity, false, 100, 50, 0x01, "500 50 100 0\n"},
	{"button down, rotated", identity, true, 100, 50, 0x01, "1000 100 430 0\n"},
	{"button up", identity, false, 100, 50, 0x00, "0 50 100 0\n"},
	{"button up, rotated", identity, true, 100, 50, 0x00, "500 100 430 0\n"},
	{"right and middle buttons are not the pressure", identity, false, 100, 50, 0x06,
	 "0 50 100 0\n"},
	{"right and middle buttons, rotated", identity, true, 100, 50, 0x06, "500 100 430 0\n"},
	{"left with the other buttons", identity, false, 100, 50, 0x07, "500 50 100 0\n"},
	{"worked example", example, false, 20, 10, 0x01, "500 275 -366 0\n"},
	{"worked example, rotated", example, true, 20, 10, 0x00, "500 -366 205 0\n"},
	{"no calibration: the screen position", {}, false, 100, 50, 0x00, "0 50 100 0\n"},
	{"no calibration, rotated", {}, true, 100, 50, 0x01, "1000 100 430 0\n"},
};

TEST_F(mouse_frames, touch_line_text)
{
	for (const line_case &c : line_cases) {
		SCOPED_TRACE(c.legend);
		calibration.scaled = c.scaled;
		active_settings.touch_rotated = c.rotated;
		pointer.mouse_x = c.mouse_x;
		pointer.mouse_y = c.mouse_y;
		handle_mouse_frame(mouse_frame(c.status, 0, 0));
		EXPECT_EQ(take_lines(), c.line);
	}
}

TEST_F(mouse_frames, one_line_per_frame_even_without_change)
{
	use_identity_calibration();
	handle_mouse_frame(mouse_frame(0x00, 3, 4));
	handle_mouse_frame(mouse_frame(0x00, 0, 0));
	handle_mouse_frame(mouse_frame(0x01, 0, 0));
	handle_mouse_frame(mouse_frame(0x00, 0, 0));
	EXPECT_EQ(take_lines(), "0 4 3 0\n0 4 3 0\n500 4 3 0\n0 4 3 0\n");
}

// Each line is flushed on its own: the touch device must see it before the next frame.
TEST_F(mouse_frames, each_line_is_handed_over_at_once)
{
	use_identity_calibration();
	handle_mouse_frame(mouse_frame(0x01, 1, 2));
	EXPECT_EQ(std::string(text, length), "500 2 1 0\n");
}

// Once a stop is pending no new line is started; the pointer still moves.
TEST_F(mouse_frames, no_line_once_a_stop_is_pending)
{
	use_identity_calibration();
	stop_signal = SIGTERM;
	handle_mouse_frame(mouse_frame(0x01, 1, 2));
	EXPECT_EQ(take_lines(), "");
	EXPECT_EQ(pointer.mouse_x, 1);
	EXPECT_EQ(pointer.mouse_y, 2);
}

TEST_F(mouse_frames, console_mode_leaves_the_screen_alone)
{
	use_identity_calibration();
	test_screen screen = make_screen();
	attach_screen(screen);
	const std::vector<uint16_t> before = screen.memory;
	active_settings.console_mode = true;

	handle_mouse_frame(mouse_frame(0x01, 100, 50));
	handle_mouse_frame(mouse_frame(0x00, 100, 50));
	EXPECT_EQ(take_lines(), "500 50 100 0\n0 100 200 0\n");
	EXPECT_EQ(screen_differences(screen, before), "");
	EXPECT_EQ(cursor.cursor_drawn, 0);
}

// The cursor follows the pointer: anchor column mouse_y, anchor row mouse_x. The old arrow
// goes before the screen under the new one is saved, so overlapping moves leave no trace.
TEST_F(mouse_frames, cursor_follows_outside_console_mode)
{
	use_identity_calibration();
	test_screen screen = make_screen();
	attach_screen(screen);
	const test_screen background = screen;
	active_settings.console_mode = false;

	const struct {
		const char *legend;
		uint8_t status, x_motion, y_motion;
		int mouse_x, mouse_y;
	} moves[] = {
		{"first frame draws", 0x00, 100, 50, 100, 50},
		{"a long move", 0x00, 200, 150, 300, 200},
		{"no motion: erased and drawn in place", 0x01, 0, 0, 300, 200},
		{"a short move over its own block", 0x00, 5, 3, 305, 203},
		{"back over it the other way", 0x30, 0xF9, 0xFE, 298, 201},
		{"to column 0: no arrow to see", 0x20, 0, 0x00, 298, 0},
		{"to the corner", 0x00, 0xFF, 0xFF, 553, 255},
	};
	for (const auto &m : moves) {
		SCOPED_TRACE(m.legend);
		handle_mouse_frame(mouse_frame(m.status, m.x_motion, m.y_motion));
		ASSERT_EQ(pointer.mouse_x, m.mouse_x);
		ASSERT_EQ(pointer.mouse_y, m.mouse_y);
		EXPECT_EQ(screen_differences(screen, with_arrow(background, m.mouse_y, m.mouse_x)), "");
		EXPECT_EQ(cursor.cursor_drawn, 1);
		EXPECT_EQ(cursor.cursor_last_x, m.mouse_x);
		EXPECT_EQ(cursor.cursor_last_y, m.mouse_y);
	}
	erase_cursor(cursor.cursor_last_y, cursor.cursor_last_x);
	EXPECT_EQ(screen_differences(screen, background.memory), "");
}

} // namespace
