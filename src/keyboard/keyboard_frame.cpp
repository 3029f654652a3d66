// Translation of keyboard frames; see keyboard_frame.h.
#include "keyboard/keyboard_frame.h"

#include <cstring>

#include "keyboard/key_map.h"
#include "output/output_form.h"
#include "serial/frame_observer.h"
#include "serial/frame_payload.h"
#include "serial/serial_line.h"

keyboard_frame_state keyboard_translation;

void reset_keyboard_frame_state()
{
	keyboard_translation = {};
}

void forget_keyboard_state()
{
	keyboard_translation.skip_frames = 0;
	key_tables.modifier_state = 0;
}

namespace {

// What a PS/2 keyboard sends when it has powered up and passed its self
// test: plugged into the adapter again, it starts with no key down and
// every light off.
constexpr uint8_t self_test_passed = 0xAA;

// The three frames that carry the rest of the Pause key's sequence are
// ignored.
constexpr int32_t pause_tail_frames = 3;

void toggle_light(unsigned light)
{
	keyboard_translation.led_state ^= light;
	send_led_command(keyboard_translation.led_state);
}

} // namespace

unsigned fold_modifiers(unsigned state)
{
	return (state & 0x0F) | ((state >> 4) & 0x0F);
}

keyboard_stroke read_keyboard_stroke(const serial_frame &frame)
{
	keyboard_stroke stroke{};
	if (keyboard_count_of(frame) > keyboard_largest_count)
		return stroke;
	// The last byte is the code, a release prefix before it makes it a
	// release. A count of 0 names no byte: code 0, pressed.
	const std::span<const uint8_t> codes = keyboard_codes_of(frame);
	const std::size_t count = codes.size();
	stroke.usable = true;
	stroke.code = count != 0 ? codes[count - 1] : 0;
	stroke.down = count >= 2 && codes[count - 2] == release_prefix ? 0 : 1;
	// The prefix is read where a first code would be, whatever the count.
	const uint8_t first = frame[keyboard_codes_byte];
	if (first == pause_prefix) {
		stroke.pause = true;
		stroke.prefix_index = 1;
		stroke.code = pause_scan_code;
	}
	if (first == extended_prefix)
		stroke.prefix_index = 1;
	return stroke;
}

void handle_keyboard_frame(const serial_frame &frame)
{
	if (keyboard_translation.skip_frames != 0) {
		--keyboard_translation.skip_frames;
		report_frame({.kind = frame_report_kind::pause_tail, .frame = &frame,
			      .pause_frame = pause_tail_frames + 1 - keyboard_translation.skip_frames});
		return;
	}
	keyboard_stroke stroke = read_keyboard_stroke(frame);
	if (!stroke.usable) {
		report_frame({.kind = frame_report_kind::unusable_count, .frame = &frame});
		return;
	}
	if (stroke.pause)
		keyboard_translation.skip_frames = pause_tail_frames;
	const int down = stroke.down;
	// 0xAA as a plain code is no key of set 2 but a keyboard that has just
	// come up: whatever it held is let go, and its lights are set again.
	// The frame is then handled as any other.
	if (stroke.code == self_test_passed && stroke.prefix_index == 0 && down) {
		outputs.form->release_keys(release_scope::keyboard);
		forget_keyboard_state();
		send_led_command(keyboard_translation.led_state);
	}

	if (unsigned bit = key_tables.modifier_of_code[stroke.code]; bit != 0) {
		if (down)
			key_tables.modifier_state |= bit;
		else
			key_tables.modifier_state &= ~bit;
	}
	unsigned combination = fold_modifiers(key_tables.modifier_state);

	const key_entry &slot = key_tables.key_table[combination][stroke.code][stroke.prefix_index];
	// Where the form leaves the lights to the system (an input device, which
	// the system writes them to), the frame loop carries them instead.
	if (slot.name && down && outputs.form->lights_follow_keys) {
		if (strcmp(slot.name, num_lock_key_name) == 0)
			toggle_light(led_num_lock);
		if (strcmp(slot.name, caps_lock_key_name) == 0)
			toggle_light(led_caps_lock);
	}
	// A press without a slot, or with value 0, sends nothing. A release goes
	// to the output all the same: the handheld's forms send nothing for value
	// 0, an input device releases whatever the press sent.
	uint32_t value = slot.name ? slot.value : 0;
	const key_event event{value, down, (combination & combination_shift) != 0, key_source::keyboard,
			      static_cast<uint8_t>(stroke.code), static_cast<uint8_t>(stroke.prefix_index), 0,
			      static_cast<uint8_t>(combination)};
	const bool sends = value != 0 || !down;
	if (sends)
		send_key_event(event);
	report_frame({.kind = frame_report_kind::key, .frame = &frame, .code = stroke.code,
		      .prefix_index = stroke.prefix_index, .down = down, .pause = stroke.pause,
		      .combination = combination, .slot = &slot, .event = sends ? &event : nullptr,
		      .sent_for = sends ? &outputs.sent_for : nullptr});
}
