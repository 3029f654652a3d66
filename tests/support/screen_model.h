// What the screen must hold once the daemon has drawn its cursor, worked
// out apart from the daemon's own drawing code.
//
// The arrow is drawn here by hand as the user sees it, and placed pixel by
// pixel by the rules of the cursor's block: a block anchored at (column,
// row) covers columns column-16 .. column-1 and rows row .. row+15, only
// the 480 x 640 screen is drawn on, and only pixels wholly inside the
// screen memory (smem_len bytes) are written. The unit tests (a heap
// block) and the end-to-end tests (the framebuffer file) share it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pointer/cursor.h"

// The arrow as the user sees it with the handheld held sideways: stored row
// k is drawn in column anchor - 1 - k, stored column j in row anchor + j.
// B black, W white, . see-through.
inline constexpr std::array<std::string_view, cursor_size> arrow_picture = {
	"BBBBBBBBB.......", "BWWWWWWWB.......", "BWWWWWWWB.......", "BWWWWWWWB.......",
	"BWWWWWWWB.......", "BWWWWWWWB.......", "BWWWWWWWB.......", "BWWWWWWWWB......",
	"BBBBBWWWWWB.....", ".....BWWWWWB....", "......BWWWWWB...", ".......BWWWWWB..",
	"........BWWWWWB.", ".........BWWWB..", "..........BWB...", "...........B....",
};

[[nodiscard]] constexpr int arrow_count(char look)
{
	int count = 0;
	for (std::string_view row : arrow_picture)
		for (char c : row)
			count += c == look;
	return count;
}
static_assert(arrow_count('B') == 42 && arrow_count('W') == 79 && arrow_count('.') == 135,
	      "the arrow above is mistyped");

inline constexpr uint16_t arrow_black = 0x0000;
inline constexpr uint16_t arrow_white = 0xFFFF;

// Where the screen lies in a buffer of 16-bit little-endian pixels.
struct screen_layout {
	std::size_t start = 0;        // byte of pixel (0, 0) in the buffer
	std::size_t memory_bytes = 0; // screen memory from there on (smem_len)
	uint32_t line_length = 0;     // bytes from one row to the next
};

// A pixel the arrow sets: its byte in the buffer and its colour.
struct arrow_pixel {
	std::size_t byte;
	uint16_t value;
};

// The visible pixels of the arrow anchored at the given column and row.
[[nodiscard]] std::vector<arrow_pixel> arrow_pixels(const screen_layout &layout,
						    int anchor_column, int anchor_row);

// The buffer as it must be once the arrow is drawn over it.
[[nodiscard]] std::vector<uint8_t> with_arrow(std::vector<uint8_t> bytes,
					      const screen_layout &layout, int anchor_column,
					      int anchor_row);
[[nodiscard]] std::vector<uint16_t> with_arrow(std::vector<uint16_t> pixels,
					       const screen_layout &layout, int anchor_column,
					       int anchor_row);

// Empty when the buffers agree; otherwise how many pixels differ and the
// first few of them by column and row (bytes outside the screen memory by
// their offset).
[[nodiscard]] std::string screen_differences(const std::vector<uint8_t> &actual,
					     const std::vector<uint8_t> &expected,
					     const screen_layout &layout);
[[nodiscard]] std::string screen_differences(const std::vector<uint16_t> &actual,
					     const std::vector<uint16_t> &expected,
					     const screen_layout &layout);
