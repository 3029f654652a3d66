// The mouse as the handheld's touch screen, seen from outside the real daemon.
//
// The daemon reads the touch calibration, maps a stand-in framebuffer, turns
// mouse frames into touch lines on /dev/ts and draws its own cursor into the
// screen memory. These tests send the frames over the serial line, read the
// lines and the pixels back, and play the handheld's other software by
// repainting pixels of the framebuffer file between frames.
#include "harness.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/settings.h"
#include "pointer/calibration.h"
#include "pointer/framebuffer.h"
#include "pointer/panel.h"
#include "serial/frame_payload.h"
#include "proc_watch.h"
#include "screen_model.h"

namespace {

using e2e::daemon_config;
using e2e::daemon_run;
using e2e::device_kind;
using e2e::fake_screen;

constexpr long page_size = 4096;

// Neither black, white nor the picture's see-through marker 1, so that every
// cursor pixel written or left alone shows.
constexpr uint16_t background = 0x1234;
constexpr uint16_t black = arrow_black;
constexpr uint16_t white = arrow_white;

// PS/2 mouse status byte: left button, and the ninth (sign) bit of the X and
// Y movements.
constexpr uint8_t left_button = mouse_left_button;

constexpr const char *identity_calibration = "1000 0 0 0 1000 0 1000\n";

// What SIGTERM makes the daemon print on its way out.
const std::string sigterm_message = e2e::signal_text(15);

// A framebuffer of background pixels: where its memory starts, how long it
// is and how many bytes a row takes.
fake_screen screen_memory(unsigned long smem_start, uint32_t smem_len, uint32_t line_length)
{
	fake_screen screen;
	screen.smem_start = smem_start;
	screen.smem_len = smem_len;
	screen.line_length = line_length;
	screen.background = background;
	return screen;
}

// The daemon with the mouse option, a touch device to read lines from, a
// framebuffer of background pixels and the given calibration file.
daemon_config pointer_config(std::vector<std::string> arguments,
			     std::optional<std::string> pointercal = identity_calibration)
{
	daemon_config config;
	config.arguments = std::move(arguments);
	config.pointercal = std::move(pointercal);
	config.ts = device_kind::file;
	config.screen = screen_memory(0, 2 * screen_columns * screen_rows, 2 * screen_columns);
	return config;
}

// One mouse frame moving by dx and dy, each -256..255: the low byte of each
// movement, with its sign in the status byte. Returns once the daemon has
// handled it: a frame writes its line before it moves the cursor, so by then
// both are done.
void send_move(daemon_run &run, int dx, int dy, uint8_t buttons = 0)
{
	const serial_frame frame = make_mouse_frame(dx, dy, buttons);
	EXPECT_TRUE(run.send_and_wait(std::vector<uint8_t>(frame.begin(), frame.end())))
		<< "the daemon did not come back to the line";
}

// The pointer as the test steers it (mouse_x along the rows, mouse_y along
// the columns, both from 0), and the touch lines its frames must have
// written so far under the identity calibration.
struct pointer_track {
	int x = 0;
	int y = 0;
	std::string lines;
};

void step(daemon_run &run, pointer_track &at, int dx, int dy, uint8_t buttons = 0)
{
	send_move(run, dx, dy, buttons);
	at.x = std::clamp(at.x + dx, 0, screen_rows - 1);
	at.y = std::clamp(at.y + dy, 0, screen_columns - 1);
	at.lines += std::to_string(buttons & left_button ? 500 : 0) + " " + std::to_string(at.y) +
		    " " + std::to_string(at.x) + " 0\n";
}

// The frames that take the pointer from where it is to (x, y) on the screen.
void go_to(daemon_run &run, pointer_track &at, int x, int y, uint8_t buttons = 0)
{
	while (at.x != x || at.y != y)
		step(run, at, std::clamp(x - at.x, -256, 255), std::clamp(y - at.y, -256, 255),
		     buttons);
}

// The touch device's text once the frames sent are handled (send_move waits).
testing::AssertionResult touch_lines_are(daemon_run &run, const std::string &expected)
{
	std::string text = run.device_text("ts");
	if (text != expected)
		return testing::AssertionFailure()
		       << "touch device holds " << testing::PrintToString(text) << ", expected "
		       << testing::PrintToString(expected);
	return testing::AssertionSuccess();
}

// Where the screen memory lies in the framebuffer file: from smem_start's
// offset into its page on.
screen_layout layout_of(const fake_screen &screen)
{
	return {screen.smem_start & 0xFFF, screen.smem_len, screen.line_length};
}

// The framebuffer file as it must look with the cursor drawn at the anchors
// over the given content.
std::vector<uint8_t> with_cursor(std::vector<uint8_t> bytes, const fake_screen &screen,
				 int anchor_column, int anchor_row)
{
	return with_arrow(std::move(bytes), layout_of(screen), anchor_column, anchor_row);
}

// Compares the framebuffer file with what it must hold and names the first
// pixels that differ.
testing::AssertionResult screen_is(const daemon_run &run, const std::vector<uint8_t> &expected)
{
	std::string differences =
		screen_differences(run.framebuffer_bytes(), expected, layout_of(*run.config.screen));
	if (differences.empty())
		return testing::AssertionSuccess();
	return testing::AssertionFailure() << differences;
}

// Bytes of the daemon's mappings of the framebuffer, in whole pages.
long mapped_framebuffer_bytes(int pid)
{
	return static_cast<long>(mapped_bytes_of(pid, framebuffer_device));
}

// Descriptors the daemon holds open on the framebuffer.
int framebuffer_descriptors(int pid)
{
	return descriptors_named(pid, framebuffer_device);
}

// ---- Start-up: calibration file and framebuffer ----

// The screen memory is mapped from offset 0 of the device, which maps whole
// pages: pixel (0, 0) lies as far into the mapping as smem_start lies into
// its page, and nothing before it belongs to the screen. The mapping stays
// and the descriptor is closed.
TEST(screen_setup, cursor_lands_at_the_start_of_the_screen_memory)
{
	E2E_REQUIRE_NAMESPACES();
	struct memory_case {
		const char *legend;
		fake_screen screen;
		long mapped; // smem_len + page offset, in whole pages
	};
	const memory_case cases[] = {
		{"page-aligned screen memory", screen_memory(0x20000000, 614400, 960),
		 150 * page_size},
		{"0x345 into its page, rows padded to 1024 bytes",
		 screen_memory(0x20000345, 655360, 1024), 161 * page_size},
		{"screen memory of only 8 rows", screen_memory(0x1000, 8 * 960, 960),
		 2 * page_size},
	};
	for (const memory_case &c : cases) {
		SCOPED_TRACE(c.legend);
		daemon_config config = pointer_config({"-M"});
		config.screen = c.screen;
		daemon_run run(config);
		ASSERT_TRUE(run.start());
		EXPECT_EQ(mapped_framebuffer_bytes(run.daemon_pid), c.mapped);
		EXPECT_EQ(framebuffer_descriptors(run.daemon_pid), 0);

		std::vector<uint8_t> before = run.framebuffer_bytes();
		send_move(run, 0, 16); // anchors column 16, row 0
		ASSERT_TRUE(touch_lines_are(run, "0 16 0 0\n"));
		EXPECT_EQ(run.pixel(15, 0), black) << "the arrow's tip";
		EXPECT_TRUE(screen_is(run, with_cursor(before, c.screen, 16, 0)));
		run.stop();
		EXPECT_TRUE(screen_is(run, before)) << "after the exit's erase";
	}
}

// Without a framebuffer device the daemon says nothing about it and runs:
// the touch lines still go out, and no cursor is drawn or erased anywhere.
TEST(screen_setup, no_framebuffer_device)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config = pointer_config({"-M"});
	config.screen.reset();
	daemon_run run(config);
	ASSERT_TRUE(run.start());
	pointer_track at;
	go_to(run, at, 100, 50);
	go_to(run, at, 639, 479);
	ASSERT_TRUE(touch_lines_are(run, "0 50 100 0\n0 305 355 0\n0 479 610 0\n0 479 639 0\n"));
	auto result = run.stop();
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(run.stdout_text(), sigterm_message);
	EXPECT_EQ(run.stderr_text(), "");
}

// A framebuffer that refuses either screen-information request: "error"
// without a newline, the descriptor closed, nothing mapped, and the pixels
// never touched, while the touch lines go on.
TEST(screen_setup, failing_screen_information_request)
{
	E2E_REQUIRE_NAMESPACES();
	for (const char *request : {"fix", "var"}) {
		SCOPED_TRACE(request);
		daemon_config config = pointer_config({"-M"});
		config.screen->fail_request = request;
		daemon_run run(config);
		ASSERT_TRUE(run.start());
		EXPECT_EQ(mapped_framebuffer_bytes(run.daemon_pid), 0);
		EXPECT_EQ(framebuffer_descriptors(run.daemon_pid), 0);
		std::vector<uint8_t> before = run.framebuffer_bytes();
		send_move(run, 100, 50, left_button);
		ASSERT_TRUE(touch_lines_are(run, "500 50 100 0\n"));
		EXPECT_TRUE(screen_is(run, before));
		auto result = run.stop();
		EXPECT_EQ(result.status, 1);
		EXPECT_EQ(run.stdout_text(), std::string(screen_request_failed_message) + std::string(sigterm_message));
		EXPECT_EQ(run.stderr_text(), "");
		EXPECT_TRUE(screen_is(run, before));
	}
}

// ---- Touch lines and the cursor ----
//
// What a mouse frame makes of the pointer and the touch line, console mode
// leaving the screen alone, and the cursor's picture, its clipping at the
// screen's edges and its erase are the unit tests' (tests/unit/pointer_test.cpp,
// tests/unit/cursor_test.cpp) and the transcripts touch.t and
// touch_rotated.t; here, what needs the daemon's mapping of the device,
// shared with the software that draws into it.

// Other software draws into the same memory. A pixel repainted while the
// cursor covers it keeps its new content when the cursor goes, whether the
// cursor drew there or not; the rest of the block gets the background back.
// Redrawn in place, the cursor covers a repainted pixel again and later
// restores the repaint, not the old background.
TEST(screen_cursor, erase_keeps_pixels_repainted_meanwhile)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run(pointer_config({"-M"}));
	ASSERT_TRUE(run.start());
	const fake_screen &screen = *run.config.screen;
	std::vector<uint8_t> expected = run.framebuffer_bytes();
	auto repaint = [&](int column, int row, uint16_t value) {
		run.set_pixel(column, row, value);
		const std::size_t at = layout_of(screen).start + 2 * static_cast<std::size_t>(column) +
				       static_cast<std::size_t>(row) * screen.line_length;
		expected[at] = static_cast<uint8_t>(value & 0xFF);
		expected[at + 1] = static_cast<uint8_t>(value >> 8);
	};

	// Block at columns 84..99, rows 200..215.
	pointer_track at;
	go_to(run, at, 200, 100);
	ASSERT_TRUE(touch_lines_are(run, at.lines));
	ASSERT_EQ(run.pixel(99, 200), black);
	repaint(99, 200, 0x5555); // the black tip
	repaint(98, 201, 0x0F0F); // white inside the arrow
	repaint(84, 200, 0x7777); // see-through corner

	// Block at columns 134..149, rows 250..265.
	go_to(run, at, 250, 150);
	ASSERT_TRUE(touch_lines_are(run, at.lines));
	EXPECT_TRUE(screen_is(run, with_cursor(expected, screen, 150, 250)))
		<< "old block: background and the three repaints";

	repaint(149, 250, 0x6666); // the black tip, covered again below
	repaint(134, 250, 0x3333); // see-through corner
	step(run, at, 0, 0, left_button); // erased and drawn in place
	ASSERT_TRUE(touch_lines_are(run, at.lines));
	EXPECT_EQ(run.pixel(149, 250), black);
	EXPECT_EQ(run.pixel(134, 250), 0x3333);

	auto result = run.stop();
	EXPECT_EQ(result.status, 1);
	EXPECT_TRUE(screen_is(run, expected)) << "after the exit's erase";
}

} // namespace
