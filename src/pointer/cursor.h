// The daemon's own mouse cursor, drawn straight into the shared framebuffer.
//
// The handheld's software keeps drawing into the same memory and nothing is
// locked, so the cursor keeps two copies of its 16 x 16 block: what lay
// under it before it was drawn, and what the block held right after. An
// erase restores only the pixels that still hold what the cursor left, so a
// repaint by someone else survives.
//
// The screen is 480 columns by 640 rows. A block anchored at (column, row)
// covers columns column-16 .. column-1 and rows row .. row+15; the picture is
// stored rotated, so that it stands upright on the handheld held sideways.
#pragma once

#include <array>
#include <cstdint>

#include "pointer/panel.h"

inline constexpr int cursor_size = 16;
inline constexpr std::size_t cursor_pixels = cursor_size * cursor_size;

inline constexpr int16_t cursor_transparent = 1;
inline constexpr int16_t cursor_black = 0;
inline constexpr int16_t cursor_white = -1;

extern const std::array<int16_t, cursor_pixels> cursor_image;
// What the cursor keeps between frames. Its anchors follow the pointer's
// names: x is the row, y the column.
struct cursor_state {
	std::array<uint16_t, cursor_pixels> under_buffer{}; // what lay under the block
	std::array<uint16_t, cursor_pixels> drawn_buffer{}; // what the block held once drawn
	int cursor_drawn = 0; // 1 while the cursor is on the screen
	int16_t cursor_last_x = 0; // row anchor of the last drawing
	int16_t cursor_last_y = 0; // column anchor of the last drawing
};
extern cursor_state cursor;


// Nothing drawn, nothing saved: the state before the first mouse frame.
void reset_cursor();

void save_under(int anchor_column, int anchor_row);
void draw_cursor(int anchor_column, int anchor_row);
void save_drawn(int anchor_column, int anchor_row);
void erase_cursor(int anchor_column, int anchor_row);
