// Pointer motion, the touch transform and the cursor move.
#include "pointer/mouse_frame.h"

#include <climits>
#include <cmath>

#include "core/settings.h"
#include "core/stop_request.h"
#include "pointer/cursor.h"
#include "pointer/screen.h"

FILE *touch_out = nullptr;
int mouse_x = 0;
int mouse_y = 0;

namespace {

// PS/2 mouse status byte: bit 0 left button, bits 4 and 5 the signs of the
// X and Y movements (the ninth bit of each).
constexpr unsigned left_button = 0x01;
constexpr unsigned x_sign = 0x10;
constexpr unsigned y_sign = 0x20;

constexpr int pressure_down = 500;
constexpr int rotated_pressure_step = 500;

// A double that truncates to an int without leaving its range.
bool fits_int(double value)
{
	return std::isfinite(value) && value > static_cast<double>(INT_MIN) - 1.0 &&
	       value < static_cast<double>(INT_MAX) + 1.0;
}

void move_cursor()
{
	if (cursor_drawn == 1)
		erase_cursor(cursor_last_y, cursor_last_x);
	save_under(mouse_y, mouse_x);
	cursor_drawn = 1;
	draw_cursor(mouse_y, mouse_x);
	save_drawn(mouse_y, mouse_x);
	cursor_last_x = static_cast<int16_t>(mouse_x);
	cursor_last_y = static_cast<int16_t>(mouse_y);
}

} // namespace

touch_point touch_of_position(int mouse_row, int mouse_column)
{
	const auto &s = calibration.scaled;
	const double s1 = s[0], s3 = s[2], s5 = s[4], s6 = s[5], s7 = s[6];
	// One operation at a time, in this order: the handheld's own touch
	// driver inverts its calibration the same way, and the rounding of each
	// step decides the last unit of the result.
	const touch_point screen_position{mouse_column, mouse_row};
	const double divisor = s5 * s1;
	if (divisor == 0.0)
		return screen_position;
	double tx = static_cast<double>(mouse_column) * s7;
	tx = tx * s5;
	tx = tx - s3 * s5;
	tx = tx / divisor;
	double ty = static_cast<double>(mouse_row) * s7;
	ty = ty * s1;
	ty = ty - s1 * s6;
	ty = ty / divisor;
	if (!fits_int(tx) || !fits_int(ty))
		return screen_position;
	touch_point touch{static_cast<int>(tx), static_cast<int>(ty)};
	// The rotated report carries 480 - x, which must fit an int as well.
	if (touch_rotated && static_cast<long long>(screen_columns) - touch.x > INT_MAX)
		return screen_position;
	return touch;
}

void handle_mouse_frame(const serial_frame &frame)
{
	unsigned status = frame[2];
	mouse_x += frame[3];
	mouse_y += frame[4];
	if (status & x_sign)
		mouse_x -= 256;
	if (status & y_sign)
		mouse_y -= 256;
	if (mouse_x > screen_rows - 1)
		mouse_x = screen_rows - 1;
	if (mouse_y > screen_columns - 1)
		mouse_y = screen_columns - 1;
	if (mouse_x < 0)
		mouse_x = 0;
	if (mouse_y < 0)
		mouse_y = 0;

	touch_point touch = touch_of_position(mouse_x, mouse_y);
	int button = (status & left_button) ? 1 : 0;
	if (touch_out && !stop_pending()) {
		// The touch device's results are not acted on: a full device loses
		// the line and the cursor still moves.
		if (touch_rotated)
			(void)fprintf(touch_out, "%d %d %d 0\n", rotated_pressure_step * (button + 1),
				      touch.y, screen_columns - touch.x);
		else
			(void)fprintf(touch_out, "%d %d %d 0\n", button ? pressure_down : 0, touch.x,
				      touch.y);
		(void)fflush(touch_out);
	}
	if (console_mode)
		return;
	move_cursor();
}
