// An in-memory framebuffer for the cursor tests; what the arrow must look like on it comes
// from the shared model (screen_model.h).
//
// On the handheld the screen memory is a device mapping shared with other software; here it
// is a heap block of exactly the chosen size, so that the address sanitizer reports a pixel
// written past its end. Rows can be longer than 480 pixels, as on controllers that pad their
// scan lines, so that a stride mistake lands in the padding and shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pointer/framebuffer.h"
#include "pointer/panel.h"
#include "screen_model.h"

inline constexpr uint32_t handheld_line_length = 2 * screen_columns; // 960 bytes
inline constexpr uint32_t padded_line_length = 1024; // 512 pixels a row, 32 of them padding
inline constexpr std::size_t full_screen_bytes = std::size_t{padded_line_length} * screen_rows;

struct test_screen {
	std::vector<uint16_t> memory; // rounded up to whole pixels
	std::size_t bytes;            // screen memory length: limit_end - pixels
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

// Points the daemon's screen record at the block, as a successful mapping would. The test
// starts from reset_daemon_state(), which leaves the record unmapped.
inline void attach_screen(test_screen &screen)
{
	attach_screen_memory(reinterpret_cast<unsigned char *>(screen.memory.data()), 0, screen.bytes,
			     screen.line_length);
}

[[nodiscard]] inline std::size_t pixel_index(const test_screen &screen, int column, int row)
{
	return (static_cast<std::size_t>(row) * screen.line_length) / 2 +
	       static_cast<std::size_t>(column);
}

[[nodiscard]] inline screen_layout layout_of(const test_screen &screen)
{
	return {0, screen.bytes, screen.line_length};
}

// The screen after the arrow is drawn at the anchors onto the screen as it is now. Take it
// from a copy made before the drawing.
[[nodiscard]] inline std::vector<uint16_t> with_arrow(const test_screen &screen,
						      int anchor_column, int anchor_row)
{
	return with_arrow(screen.memory, layout_of(screen), anchor_column, anchor_row);
}

// Empty when the screen holds what was expected, else the first few differing pixels.
[[nodiscard]] inline std::string screen_differences(const test_screen &screen,
						    const std::vector<uint16_t> &expected)
{
	return screen_differences(screen.memory, expected, layout_of(screen));
}
