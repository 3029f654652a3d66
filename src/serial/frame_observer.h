// What the daemon did with each byte and frame, for whoever listens.
//
// A trace of the adapter's traffic is worth reading only if it shows what
// the daemon decided, not what a second copy of its rules would decide. So
// the frame loop and the frame handlers say here, as they act, what they
// did: a byte or frame they dropped, a keyboard frame they skipped, the key
// slot they used, each event they handed to the output form, each light
// command. In the daemon nobody listens: the observer is null and a report
// costs one test of it (one a frame; a joystick frame one per button that
// changed; the light commands and the dropped bytes and frames one each).
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/frame_reader.h"

struct key_entry; // keyboard/key_map.h
struct key_event; // output/output_form.h

enum class frame_report_kind : uint8_t {
	byte_skipped,    // a byte dropped while seeking a frame start: byte
	bad_checksum,    // a complete frame dropped, its checksum wrong: frame
	mouse_dropped,   // a complete mouse frame dropped, the mouse off: frame
	pause_tail,      // a keyboard frame skipped as the rest of Pause: frame, pause_frame
	unusable_count,  // a keyboard frame ignored, its count above 4: frame
	key,             // a keyboard frame translated: frame, the key fields, event
	joystick_button, // a joystick button that changed: frame, button, event
	touch,           // a touch handed to the form: row, column
	motion,          // the mouse's own motion handed to the form: dx, dy, buttons
	lights,          // a light command sent to the adapter: led_bits
};

// One report; the fields named beside its kind hold, the rest keep their
// defaults. The pointers are good only during the call.
struct frame_report {
	frame_report_kind kind = frame_report_kind::key;
	const serial_frame *frame = nullptr;
	uint8_t byte = 0;
	int32_t pause_frame = 0;          // pause_tail: which of Pause's four frames (2..4)
	unsigned code = 0;                // key: the scan code looked up (Pause: 0x80)
	std::size_t prefix_index = 0;     // key: 0 plain, 1 after 0xE0 (and Pause)
	int down = 0;                     // key: 1 press, 0 release
	bool pause = false;               // key: the first frame of Pause
	unsigned combination = 0;         // key: the modifier combination looked up under
	const key_entry *slot = nullptr;  // key: the slot looked up (its name null: empty)
	const key_event *event = nullptr; // key, joystick_button: handed to the form; null: none
	// key, joystick_button, with event: event with the modifier combination
	// of the lookup whose value the form sent (for a release or a repeat
	// sent as the press sent it, an input device's, the press's).
	const key_event *sent_for = nullptr;
	unsigned button = 0;              // joystick_button
	int row = 0;                      // touch: the pointer's screen row
	int column = 0;                   // touch: the pointer's screen column
	int dx = 0;                       // motion
	int dy = 0;
	unsigned buttons = 0;
	unsigned led_bits = 0;            // lights
};

using frame_observer = void (*)(const frame_report &report, void *context);

// Who listens, and what it gets back with every report.
struct frame_observer_state {
	frame_observer observer = nullptr;
	void *context = nullptr;
};
extern frame_observer_state frame_observation;

// A tool that runs the daemon in its process starts listening (null: stops).
void set_frame_observer(frame_observer observer, void *context);

inline void report_frame(const frame_report &report)
{
	if (frame_observation.observer)
		frame_observation.observer(report, frame_observation.context);
}
