// Joystick buttons; see joystick_frame.h.
#include "joystick/joystick_frame.h"

#include "keyboard/key_map.h"
#include "output/output_form.h"
#include "serial/frame_observer.h"
#include "serial/frame_payload.h"

joystick_state joystick_translation;

void reset_joystick_state()
{
	joystick_translation = {};
}

void handle_joystick_frame(const serial_frame &frame)
{
	uint32_t button_bits = joystick_buttons_of(frame);
	uint32_t changed = button_bits ^ joystick_translation.joystick_previous;
	for (std::size_t button = 0; button < joystick_button_count; ++button) {
		if (!(changed >> button & 1))
			continue;
		const key_event event{static_cast<uint32_t>(key_tables.joystick_keys[button]),
				      static_cast<int>(button_bits >> button & 1), false, key_source::joystick,
				      0, 0, static_cast<uint8_t>(button), 0};
		send_key_event(event);
		report_frame({.kind = frame_report_kind::joystick_button, .frame = &frame,
			      .event = &event, .sent_for = &outputs.sent_for,
			      .button = static_cast<unsigned>(button)});
	}
	joystick_translation.joystick_previous = button_bits;
}
