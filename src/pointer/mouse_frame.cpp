// Pointer motion, the touch transform and the cursor move.
#include "pointer/mouse_frame.h"

#include "core/settings.h"
#include "output/output_form.h"
#include "pointer/calibration.h"
#include "pointer/cursor.h"
#include "pointer/screen.h"
#include "serial/frame_payload.h"

pointer_state pointer;

void reset_mouse_position()
{
	pointer = {};
}

namespace {

constexpr int pressure_down = 500;
constexpr int rotated_pressure_step = 500;

// One touch line for the pointer's place, with the left button as given.
void send_touch_at_pointer(int button)
{
	touch_point touch = touch_of_position(mouse_x, mouse_y);
	// Rotated, the panel's axes swap and the pressure is 500 with the
	// button up, 1000 with it down.
	if (touch_rotated)
		output->send_touch(rotated_pressure_step * (button + 1), touch.y, screen_columns - touch.x);
	else
		output->send_touch(button ? pressure_down : 0, touch.x, touch.y);
	pointer.touch_down = button != 0;
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

void handle_mouse_frame(const serial_frame &frame)
{
	const auto [dx, dy, buttons] = mouse_motion_of(frame);
	// An input device takes the mouse as it is; the system draws its own
	// pointer.
	if (output->send_motion) {
		output->send_motion(dx, dy, buttons);
		return;
	}
	mouse_x += dx;
	mouse_y += dy;
	if (mouse_x > screen_rows - 1)
		mouse_x = screen_rows - 1;
	if (mouse_y > screen_columns - 1)
		mouse_y = screen_columns - 1;
	if (mouse_x < 0)
		mouse_x = 0;
	if (mouse_y < 0)
		mouse_y = 0;

	send_touch_at_pointer((buttons & mouse_left_button) ? 1 : 0);
	if (console_mode)
		return;
	move_cursor();
}

void lift_pointer()
{
	if (output->send_motion) {
		output->send_motion(0, 0, 0);
		return;
	}
	if (pointer.touch_down)
		send_touch_at_pointer(0);
}
