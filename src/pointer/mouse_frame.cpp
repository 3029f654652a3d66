// Pointer motion, the touch transform and the cursor move.
#include "pointer/mouse_frame.h"

#include "core/settings.h"
#include "output/output_form.h"
#include "pointer/calibration.h"
#include "pointer/cursor.h"
#include "pointer/panel.h"
#include "serial/frame_observer.h"
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
	touch_point touch = touch_of_position(pointer.mouse_x, pointer.mouse_y);
	// Rotated, the panel's axes swap and the pressure is 500 with the
	// button up, 1000 with it down.
	if (active_settings.touch_rotated)
		outputs.form->send_touch(rotated_pressure_step * (button + 1), touch.y, screen_columns - touch.x);
	else
		outputs.form->send_touch(button ? pressure_down : 0, touch.x, touch.y);
	pointer.touch_down = button != 0;
	report_frame({.kind = frame_report_kind::touch, .row = pointer.mouse_x,
		      .column = pointer.mouse_y});
}

void move_cursor()
{
	if (cursor.cursor_drawn == 1)
		erase_cursor(cursor.cursor_last_y, cursor.cursor_last_x);
	save_under(pointer.mouse_y, pointer.mouse_x);
	cursor.cursor_drawn = 1;
	draw_cursor(pointer.mouse_y, pointer.mouse_x);
	save_drawn(pointer.mouse_y, pointer.mouse_x);
	cursor.cursor_last_x = static_cast<int16_t>(pointer.mouse_x);
	cursor.cursor_last_y = static_cast<int16_t>(pointer.mouse_y);
}

} // namespace

void handle_mouse_frame(const serial_frame &frame)
{
	const auto [dx, dy, buttons] = mouse_motion_of(frame);
	// An input device takes the mouse as it is; the system draws its own
	// pointer.
	if (!outputs.form->keeps_pointer) {
		outputs.form->send_motion(dx, dy, buttons);
		report_frame({.kind = frame_report_kind::motion, .dx = dx, .dy = dy, .buttons = buttons});
		return;
	}
	pointer.mouse_x += dx;
	pointer.mouse_y += dy;
	if (pointer.mouse_x > screen_rows - 1)
		pointer.mouse_x = screen_rows - 1;
	if (pointer.mouse_y > screen_columns - 1)
		pointer.mouse_y = screen_columns - 1;
	if (pointer.mouse_x < 0)
		pointer.mouse_x = 0;
	if (pointer.mouse_y < 0)
		pointer.mouse_y = 0;

	send_touch_at_pointer((buttons & mouse_left_button) ? 1 : 0);
	if (active_settings.console_mode)
		return;
	move_cursor();
}

void lift_pointer()
{
	if (!outputs.form->keeps_pointer) {
		outputs.form->send_motion(0, 0, 0);
		return;
	}
	if (pointer.touch_down)
		send_touch_at_pointer(0);
}
