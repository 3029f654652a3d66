// Drawing, saving and erasing the software cursor; see cursor.h.
#include "pointer/cursor.h"

#include <cstring>

#include "pointer/framebuffer.h"

namespace {

constexpr int16_t B = cursor_black;
constexpr int16_t W = cursor_white;
constexpr int16_t _ = cursor_transparent;

} // namespace

// Stored row k is drawn in column anchor-1-k, stored column j in row anchor+j.
const std::array<int16_t, cursor_pixels> cursor_image = {
	B, B, B, B, B, B, B, B, B, _, _, _, _, _, _, _,
	B, W, W, W, W, W, W, W, B, _, _, _, _, _, _, _,
	B, W, W, W, W, W, W, W, B, _, _, _, _, _, _, _,
	B, W, W, W, W, W, W, W, B, _, _, _, _, _, _, _,
	B, W, W, W, W, W, W, W, B, _, _, _, _, _, _, _,
	B, W, W, W, W, W, W, W, B, _, _, _, _, _, _, _,
	B, W, W, W, W, W, W, W, B, _, _, _, _, _, _, _,
	B, W, W, W, W, W, W, W, W, B, _, _, _, _, _, _,
	B, B, B, B, B, W, W, W, W, W, B, _, _, _, _, _,
	_, _, _, _, _, B, W, W, W, W, W, B, _, _, _, _,
	_, _, _, _, _, _, B, W, W, W, W, W, B, _, _, _,
	_, _, _, _, _, _, _, B, W, W, W, W, W, B, _, _,
	_, _, _, _, _, _, _, _, B, W, W, W, W, W, B, _,
	_, _, _, _, _, _, _, _, _, B, W, W, W, B, _, _,
	_, _, _, _, _, _, _, _, _, _, B, W, B, _, _, _,
	_, _, _, _, _, _, _, _, _, _, _, B, _, _, _, _,
};

cursor_state cursor;

void reset_cursor()
{
	cursor = {};
}

namespace {

enum class cursor_pass : uint8_t { save_under, draw, save_drawn, erase };

// Byte offset of a pixel from pixel (0, 0), or -1 when the pixel is off the
// screen or outside the mapped screen memory. The offset is tested before
// any address is formed, so no pointer ever leaves the mapping.
long long pixel_offset(int column, int row)
{
	if (!screen_map.pixels)
		return -1;
	long long offset = 2LL * column + static_cast<long long>(row) *
						  screen_map.line_length;
	long long limit = screen_map.limit_end - screen_map.pixels;
	if (offset < 0 || offset + 2 > limit)
		return -1;
	if (column > screen_columns - 1 || column < 0)
		return -1;
	if (row > screen_rows - 1 || row < 0)
		return -1;
	return offset;
}

// Pixels are read and written through memcpy: a line length that is not a
// multiple of two must not turn into a misaligned access on the ARM core.
uint16_t read_pixel(long long offset)
{
	uint16_t value = 0;
	memcpy(&value, screen_map.pixels + offset, sizeof value);
	return value;
}

void write_pixel(long long offset, uint16_t value)
{
	memcpy(screen_map.pixels + offset, &value, sizeof value);
}

// All four operations visit the block in one order: column offset i outer,
// row offset j inner.
void run_cursor_pass(cursor_pass pass, int anchor_column, int anchor_row)
{
	for (int i = 0; i < cursor_size; ++i) {
		for (int j = 0; j < cursor_size; ++j) {
			long long offset = pixel_offset(anchor_column - cursor_size + i, anchor_row + j);
			if (offset < 0)
				continue;
			std::size_t block = static_cast<std::size_t>(i * cursor_size + j);
			switch (pass) {
			case cursor_pass::save_under:
				cursor.under_buffer[block] = read_pixel(offset);
				break;
			case cursor_pass::draw: {
				int16_t v = cursor_image[static_cast<std::size_t>(
					(cursor_size - 1 - i) * cursor_size + j)];
				if (v != cursor_transparent)
					write_pixel(offset, static_cast<uint16_t>(v));
				break;
			}
			case cursor_pass::save_drawn:
				cursor.drawn_buffer[block] = read_pixel(offset);
				break;
			case cursor_pass::erase:
				if (read_pixel(offset) == cursor.drawn_buffer[block])
					write_pixel(offset, cursor.under_buffer[block]);
				break;
			}
		}
	}
}

} // namespace

void save_under(int anchor_column, int anchor_row)
{
	run_cursor_pass(cursor_pass::save_under, anchor_column, anchor_row);
}

void draw_cursor(int anchor_column, int anchor_row)
{
	run_cursor_pass(cursor_pass::draw, anchor_column, anchor_row);
}

void save_drawn(int anchor_column, int anchor_row)
{
	run_cursor_pass(cursor_pass::save_drawn, anchor_column, anchor_row);
}

void erase_cursor(int anchor_column, int anchor_row)
{
	run_cursor_pass(cursor_pass::erase, anchor_column, anchor_row);
}
