// An in-memory framebuffer for the cursor tests, and what the arrow must look like on it.
//
// On the handheld the screen memory is a device mapping shared with other software; here it
// is a heap block of exactly the chosen size, so that the address sanitizer reports a pixel
// written past its end. Rows can be longer than 480 pixels, as on controllers that pad their
// scan lines, so that a stride mistake lands in the padding and shows.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "pointer/cursor.h"
#include "pointer/calibration.h"
#include "pointer/framebuffer.h"
#include "pointer/screen.h"

inline constexpr uint32_t handheld_line_length = 2 * screen_columns; // 960 bytes
inline constexpr uint32_t padded_line_length = 1024; // 512 pixels a row, 32 of them padding
inline constexpr std::size_t full_screen_bytes = std::size_t{padded_line_length} * screen_rows;

// The arrow as the user sees it with the handheld held sideways: stored row k is drawn in
// column anchor - 1 - k, stored column j in row anchor + j. B black, W white, . see-through.
inline constexpr std::array<std::string_view, cursor_size> arrow_picture = {
	"BBBBBBBBB.......", "BWWWWWWWB.......", "BWWWWWWWB.......", "BWWWWWWWB.......",
	"BWWWWWWWB.......", "BWWWWWWWB.......", "BWWWWWWWB.......", "BWWWWWWWWB......",
	"BBBBBWWWWWB.....", ".....BWWWWWB....", "......BWWWWWB...", ".......BWWWWWB..",
	"........BWWWWWB.", ".........BWWWB..", "..........BWB...", "...........B....",
};

struct test_screen {
	std::vector<uint16_t> memory; // rounded up to whole pixels
	std::size_t bytes;            // screen memory length: limit_end - limit_start
	uint32_t line_length;
};

// A pattern in which neighbouring pixels differ and no pixel holds 0, 1 or 0xFFFF, so every
// pixel the cursor writes or restores shows.
[[nodiscard]] inline uint16_t background_at(std::size_t index)
{
	return static_cast<uint16_t>(0x1000 + (index * 37) % 0xE000);
}

[[nodiscard]] inline test_screen make_screen(std::size_t bytes = full_screen_bytes,
					     uint32_t line_length = padded_line_length)
{
	test_screen screen{std::vector<uint16_t>((bytes + 1) / 2), bytes, line_length};
	for (std::size_t index = 0; index < screen.memory.size(); ++index)
		screen.memory[index] = background_at(index);
	return screen;
}

// Points the daemon's screen record at the block, as a successful mapping would.
inline void attach_screen(test_screen &screen)
{
	screen_map = {};
	screen_map.fd = -1;
	screen_map.fix_info.smem_len = static_cast<uint32_t>(screen.bytes);
	screen_map.fix_info.line_length = screen.line_length;
	screen_map.map_length = screen.bytes;
	screen_map.mapping = reinterpret_cast<unsigned char *>(screen.memory.data());
	screen_map.pixels = screen_map.mapping;
	screen_map.limit_start = screen_map.pixels;
	screen_map.limit_end = screen_map.pixels + screen.bytes;
}

[[nodiscard]] inline std::size_t pixel_index(const test_screen &screen, int column, int row)
{
	return (static_cast<std::size_t>(row) * screen.line_length) / 2 +
	       static_cast<std::size_t>(column);
}

// The screen after the arrow is drawn at the anchors onto the screen as it is now: every
// visible pixel of the picture that lies wholly in the screen memory, the rest as it was.
// Take it from a copy made before the drawing.
[[nodiscard]] inline std::vector<uint16_t> with_arrow(const test_screen &screen,
						      int anchor_column, int anchor_row)
{
	std::vector<uint16_t> expected = screen.memory;
	for (int k = 0; k < cursor_size; ++k) {
		for (int j = 0; j < cursor_size; ++j) {
			int column = anchor_column - 1 - k;
			int row = anchor_row + j;
			if (column < 0 || column >= screen_columns || row < 0 || row >= screen_rows)
				continue;
			std::size_t byte = static_cast<std::size_t>(row) * screen.line_length +
					   2 * static_cast<std::size_t>(column);
			if (byte + 2 > screen.bytes)
				continue;
			char look = arrow_picture[static_cast<std::size_t>(k)][static_cast<std::size_t>(j)];
			if (look != '.')
				expected[byte / 2] = look == 'B' ? 0x0000 : 0xFFFF;
		}
	}
	return expected;
}

// Empty when the screen holds what was expected, else the first few differing pixels.
[[nodiscard]] inline std::string screen_differences(const test_screen &screen,
						    const std::vector<uint16_t> &expected)
{
	std::string report;
	int shown = 0;
	const std::size_t row_pixels = screen.line_length / 2;
	for (std::size_t index = 0; index < expected.size() && shown < 8; ++index) {
		if (screen.memory[index] == expected[index])
			continue;
		char line[96];
		(void)snprintf(line, sizeof line, "column %zu row %zu: 0x%04X, expected 0x%04X\n",
			       index % row_pixels, index / row_pixels, screen.memory[index],
			       expected[index]);
		report += line;
		++shown;
	}
	return report;
}
