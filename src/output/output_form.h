// Where the daemon's input goes: one record of functions per output form.
//
// On the handheld, key events are text lines on /dev/kbd (or raw byte pairs
// on /dev/keypipe with -V) and the mouse is a touch line on /dev/ts; on a
// current kernel (-u) both become standard input devices made through
// uinput. Translation never knows which: it hands every event to the form
// start-up chose, with everything a form may need, and each form decides
// how that reaches its devices (a wrapped key, say, is two or three text
// events but one key on an input device). One file per form; adding a form
// is its file, its option and the start-up line that picks it.
#pragma once

#include <cstdint>
#include <cstdio>

// Where a key event comes from.
enum class key_source : uint8_t { keyboard, joystick };

// One key event as translation hands it over.
struct key_event {
	uint32_t value;       // the key map's value: bits 0-7 the key code, 0x1E in bits 8-15 a wrapped key
	int down;             // 1 press, 0 release
	bool shifted;         // shift held in this frame's modifier combination
	key_source source;
	uint8_t scan_code;    // keyboard: the set-2 code as looked up (Pause: pause_scan_code)
	uint8_t prefix_index; // keyboard: 0 plain, 1 after 0xE0 (and Pause)
	uint8_t button;       // joystick: the button, 0..15
};

// The Pause key has no code of its own in set 2: it is looked up as E0 80.
inline constexpr uint8_t pause_scan_code = 0x80;

// The bits of a key map value that mark a wrapped key, and its key code.
inline constexpr uint32_t wrapped_key_marker = 0x1E;
[[nodiscard]] constexpr bool is_wrapped_key(uint32_t value)
{
	return ((value >> 8) & 0xFF) == wrapped_key_marker;
}
[[nodiscard]] constexpr int key_code_byte(uint32_t value)
{
	return static_cast<int>(value & 0xFF);
}

// Which held keys a release covers: the keyboard's (a keyboard plugged in
// again starts with none down) or every one (the line is lost, the daemon
// ends).
enum class release_scope : uint8_t { keyboard, all };

struct output_form {
	// Start-up: opens the form's devices, the pointer's first and only when
	// with_pointer (-M). 0, or -1 for a start-up that must end with status
	// 1 (a form prints its own message, if it has one).
	int (*open)(bool with_pointer);
	void (*send_key)(const key_event &event);
	// Exactly one of these two takes the mouse: the absolute pointer as a
	// touch in panel coordinates, or the mouse's own relative motion.
	void (*send_touch)(int pressure, int x, int y);
	void (*send_motion)(int dx, int dy, unsigned buttons); // PS/2 sense: up is positive
	// Light changes the system asked the keyboard device for since the last
	// call, applied to led_bits (0x01 Scroll, 0x02 Num, 0x04 Caps); true
	// when they changed. Null where the daemon drives the lights itself.
	bool (*take_lights)(unsigned &led_bits);
	// Every key this form reported down and not up, released.
	void (*release_keys)(release_scope scope);
	// Exit, once a stop is pending: the devices no longer block a write,
	// and the writers may write again, so that the releases at exit reach
	// every reader that still reads and a stalled one holds nothing up.
	void (*unblock)();
	// Exit: every device closed (and, for input devices, destroyed).
	void (*close)();
};

// The forms; start-up picks one by the options.
extern const output_form key_text_form;  // /dev/kbd text, /dev/ts
extern const output_form key_pipe_form;  // /dev/keypipe raw, /dev/ts
extern const output_form uinput_form;    // input devices through uinput

struct output_state {
	// The form in use: the handheld's text form until start-up chooses.
	const output_form *form = &key_text_form;
	// Set at exit once the devices no longer block.
	bool unblocked = false;
};
extern output_state outputs;

// Back to the text form, as before start-up. Nothing is closed.
void reset_output();

// Whether a device write may start now: not once a stop is pending (a
// consumer that stopped reading would block it with nothing left to wake
// it), unless the devices were made non-blocking for the exit.
[[nodiscard]] bool output_may_write();
// Makes the stream's descriptor non-blocking and lets writes start again.
void unblock_stream(FILE *stream);

inline void send_key_event(const key_event &event)
{
	outputs.form->send_key(event);
}
