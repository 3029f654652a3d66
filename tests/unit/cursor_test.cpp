// The software cursor, pixel by pixel, on an in-memory screen.
//
// The arrow is written straight into memory that other software draws into, so what matters
// is exactly which pixels change: the picture at each anchor, the screen edges, the end of
// the screen memory, and an erase that gives back the old background but keeps what someone
// else painted meanwhile.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "pointer/cursor.h"
#include "pointer/calibration.h"
#include "pointer/framebuffer.h"
#include "pointer/panel.h"
#include "daemon_state.h"
#include "test_screen.h"

namespace {

// Every case starts from the daemon's state at start-up: nothing mapped, nothing drawn.
class cursor : public testing::Test {
protected:
	void SetUp() override { reset_daemon_state(); }
	void TearDown() override { reset_daemon_state(); }
};

// What the mouse handler does for a new position.
void place_cursor(int anchor_column, int anchor_row)
{
	save_under(anchor_column, anchor_row);
	draw_cursor(anchor_column, anchor_row);
	save_drawn(anchor_column, anchor_row);
}

// Attaches the screen, draws the arrow at the anchors and erases it again: the arrow must
// appear as the model draws it and go without a trace.
void draw_and_erase(test_screen &screen, int anchor_column, int anchor_row)
{
	attach_screen(screen);
	const test_screen before = screen;
	place_cursor(anchor_column, anchor_row);
	EXPECT_EQ(screen_differences(screen, with_arrow(before, anchor_column, anchor_row)), "");
	erase_cursor(anchor_column, anchor_row);
	EXPECT_EQ(screen_differences(screen, before.memory), "") << "after the erase";
}

struct change_summary {
	int black = 0;
	int white = 0;
	int other = 0;
	int first_column = INT_MAX, last_column = -1;
	int first_row = INT_MAX, last_row = -1;
};

change_summary summarise_changes(const test_screen &screen, const std::vector<uint16_t> &before)
{
	change_summary summary;
	const std::size_t row_pixels = screen.line_length / 2;
	for (std::size_t index = 0; index < before.size(); ++index) {
		uint16_t now = screen.memory[index];
		if (now == before[index])
			continue;
		int column = static_cast<int>(index % row_pixels);
		int row = static_cast<int>(index / row_pixels);
		summary.black += now == 0x0000;
		summary.white += now == 0xFFFF;
		summary.other += now != 0x0000 && now != 0xFFFF;
		summary.first_column = std::min(summary.first_column, column);
		summary.last_column = std::max(summary.last_column, column);
		summary.first_row = std::min(summary.first_row, row);
		summary.last_row = std::max(summary.last_row, row);
	}
	return summary;
}

struct anchor_case {
	const char *legend;
	int anchor_column;
	int anchor_row;
	int black, white;
	int first_column, last_column, first_row, last_row; // -1 when nothing changes
};

const anchor_case anchor_cases[] = {
	{"anchor (16, 0): the whole arrow, tip at column 15 row 0", 16, 0, 42, 79, 0, 15, 0, 14},
	{"anchor column 0: the block lies left of the screen", 0, 0, 0, 0, -1, -1, -1, -1},
	{"anchor column 8: stored rows 7..0 in columns 0..7", 8, 0, 23, 50, 0, 7, 0, 9},
	{"anchor column 479: columns 463..478, never 479", 479, 320, 42, 79, 463, 478, 320, 334},
	{"anchor row 639: stored column 0 only, the arrow's left edge", 240, 639, 9, 0, 231, 239,
	 639, 639},
	{"anchor row 630: stored columns 0..9", 240, 630, 33, 65, 226, 239, 630, 639},
	{"bottom right corner", 479, 639, 9, 0, 470, 478, 639, 639},
	{"anchor column 8, row 639: stored rows 7..0 of stored column 0", 8, 639, 8, 0, 0, 7, 639,
	 639},
	{"anchor column 16, row 624: the whole arrow on the last rows", 16, 624, 42, 79, 0, 15, 624,
	 638},
	{"in the middle", 300, 200, 42, 79, 284, 299, 200, 214},
	// Past the reach of the mouse, but the operations take any anchor.
	{"anchor column 490: only columns up to 479", 490, 100, 11, 19, 474, 479, 106, 114},
	{"anchor row 640: below the screen", 240, 640, 0, 0, -1, -1, -1, -1},
};

TEST_F(cursor, picture_at_each_anchor)
{
	for (uint32_t line_length : {handheld_line_length, padded_line_length}) {
		for (const anchor_case &c : anchor_cases) {
			SCOPED_TRACE(testing::Message() << c.legend << ", line length " << line_length);
			reset_daemon_state();
			test_screen screen = make_screen(std::size_t{line_length} * screen_rows, line_length);
			attach_screen(screen);
			const test_screen before = screen;

			place_cursor(c.anchor_column, c.anchor_row);
			EXPECT_EQ(screen_differences(screen, with_arrow(before, c.anchor_column,
									  c.anchor_row)), "");
			change_summary changes = summarise_changes(screen, before.memory);
			EXPECT_EQ(changes.black, c.black);
			EXPECT_EQ(changes.white, c.white);
			EXPECT_EQ(changes.other, 0);
			if (c.first_column >= 0) {
				EXPECT_EQ(changes.first_column, c.first_column);
				EXPECT_EQ(changes.last_column, c.last_column);
				EXPECT_EQ(changes.first_row, c.first_row);
				EXPECT_EQ(changes.last_row, c.last_row);
			}

			erase_cursor(c.anchor_column, c.anchor_row);
			EXPECT_EQ(screen_differences(screen, before.memory), "") << "after the erase";
		}
	}
}

TEST_F(cursor, tip_and_picture_orientation)
{
	test_screen screen = make_screen();
	attach_screen(screen);
	place_cursor(16, 0);
	auto at = [&](int column, int row) { return screen.memory[pixel_index(screen, column, row)]; };
	EXPECT_EQ(at(15, 0), 0x0000) << "tip";
	EXPECT_EQ(at(15, 8), 0x0000) << "end of the top edge (stored row 0, column 8)";
	EXPECT_EQ(at(15, 9), background_at(pixel_index(screen, 15, 9)));
	EXPECT_EQ(at(14, 1), 0xFFFF) << "inside, next to the tip";
	EXPECT_EQ(at(0, 11), 0x0000) << "end of the tail (stored row 15, column 11)";
	EXPECT_EQ(at(0, 10), background_at(pixel_index(screen, 0, 10)));
}

// Image value 1 means see-through, but 1, 0 and 0xFFFF are also ordinary pixel values: a
// background of any of them is neither mistaken for the cursor nor lost by the erase.
TEST_F(cursor, any_background_value_survives_draw_and_erase)
{
	for (uint16_t value : {uint16_t{1}, uint16_t{0x0000}, uint16_t{0xFFFF}, uint16_t{0x8000}}) {
		SCOPED_TRACE(testing::Message() << "background 0x" << std::hex << value);
		reset_daemon_state();
		test_screen screen = make_screen();
		std::fill(screen.memory.begin(), screen.memory.end(), value);
		draw_and_erase(screen, 100, 100);
	}
}

TEST_F(cursor, erase_keeps_what_other_software_painted)
{
	test_screen screen = make_screen();
	attach_screen(screen);
	std::vector<uint16_t> expected = screen.memory;

	place_cursor(100, 100); // block: columns 84..99, rows 100..115
	struct paint {
		const char *legend;
		int column, row;
		uint16_t value;
		bool kept;
	} const paints[] = {
		{"over a white pixel of the arrow", 98, 101, 0x1234, true},
		{"over a see-through pixel of the block", 99, 115, 0x4321, true},
		{"outside the block", 50, 50, 0x5555, true},
		// The same value the cursor left cannot be told apart from the cursor.
		{"over the black tip with black", 99, 100, 0x0000, false},
	};
	for (const paint &p : paints)
		screen.memory[pixel_index(screen, p.column, p.row)] = p.value;

	erase_cursor(100, 100);
	for (const paint &p : paints) {
		SCOPED_TRACE(p.legend);
		std::size_t index = pixel_index(screen, p.column, p.row);
		if (p.kept)
			expected[index] = p.value;
		EXPECT_EQ(screen.memory[index], expected[index]);
	}
	EXPECT_EQ(screen_differences(screen, expected), "");
}

TEST_F(cursor, unmapped_screen_changes_nothing)
{
	::cursor.under_buffer.fill(0xABCD);
	::cursor.drawn_buffer.fill(0xDCBA);
	for (int anchor_column : {0, 16, 240, 479}) {
		place_cursor(anchor_column, 0);
		erase_cursor(anchor_column, 0);
	}
	EXPECT_TRUE(std::all_of(::cursor.under_buffer.begin(), ::cursor.under_buffer.end(),
				[](uint16_t v) { return v == 0xABCD; }));
	EXPECT_TRUE(std::all_of(::cursor.drawn_buffer.begin(), ::cursor.drawn_buffer.end(),
				[](uint16_t v) { return v == 0xDCBA; }));
}

// A screen memory that ends inside the block: the block is clipped there. A pixel that
// would straddle the end is not written either.
TEST_F(cursor, short_screen_memory_is_never_passed)
{
	const struct {
		const char *legend;
		std::size_t bytes;
	} cases[] = {
		{"three rows and five pixels", 3 * padded_line_length + 10},
		{"ends in the middle of a black pixel", 3 * padded_line_length + 15},
		{"a single pixel", 2},
		{"empty", 0},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.legend);
		reset_daemon_state();
		test_screen screen = make_screen(c.bytes, padded_line_length);
		draw_and_erase(screen, 16, 0);
	}
}

// A screen memory longer than one screen (room for panning): the rows after 639 belong to
// no visible screen and are never written.
TEST_F(cursor, memory_after_the_last_row_is_left_alone)
{
	for (int anchor_row : {630, 639, 640, 700}) {
		SCOPED_TRACE(testing::Message() << "anchor row " << anchor_row);
		reset_daemon_state();
		test_screen screen = make_screen(2 * full_screen_bytes, padded_line_length);
		draw_and_erase(screen, 240, anchor_row);
	}
}

} // namespace
