// Where the daemon's input goes: one record of functions per output form.
//
// On the handheld, key events are text lines on /dev/kbd (or raw byte pairs
// on /dev/keypipe with -V) and the mouse is a touch line on /dev/ts; on a
// current kernel (-u) both become standard input devices made through
// uinput. Translation never names a form: it hands every event to the form
// start-up chose, with everything a form may need, and each form decides
// how that reaches its devices (a wrapped key, say, is two or three text
// events but one key on an input device). Where the forms differ in what
// the daemon itself must do (who keeps the pointer, who drives the lights),
// translation asks the form's record. Every member is set for every form.
// One file per form; adding a form is its file, its option and the
// start-up line that picks it.
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
	uint8_t combination;  // keyboard: the modifier combination value was looked up under
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

// Stand-ins a caller hands in for a form's devices in place of their paths
// (the trace tool's, the transcript runner's, the fuzz targets' and the
// benchmark's memory): null, or -1, for a device that stays unattached.
struct given_output_devices {
	FILE *kbd = nullptr;      // key events, without -V
	FILE *keypipe = nullptr;  // key events, with -V
	FILE *ts = nullptr;       // touch lines, taken only with -M
	int uinput_keyboard = -1; // with -u: the keyboard device's records
	int uinput_mouse = -1;    // with -u and -M: the mouse's
};

struct output_form {
	// True: the daemon keeps the pointer's place on the panel; the mouse
	// moves it, it goes out through send_touch and the cursor shows it
	// (start-up reads the calibration and maps the screen for it). False:
	// the mouse goes out through send_motion as it came, and the system
	// draws its own pointer.
	bool keeps_pointer;
	// True: the NumLock and Caps keys toggle the keyboard's lights here.
	// False: the system drives them, and take_lights brings its changes.
	bool lights_follow_keys;
	// Start-up, before open: a key map or joystick value the form may be
	// asked to send (an input device declares each key code before it is
	// made).
	void (*declare_key)(uint32_t value);
	// Start-up: opens the form's devices, the pointer's first and only when
	// with_pointer (-M); or, with given, takes the caller's stand-ins for
	// them. 0, or -1 for a start-up that must end with status 1 (a form
	// prints its own message, if it has one).
	int (*open)(bool with_pointer, const given_output_devices *given);
	void (*send_key)(const key_event &event);
	// The mouse, as keeps_pointer says: the absolute pointer as a touch in
	// panel coordinates, or the mouse's own relative motion.
	void (*send_touch)(int pressure, int x, int y);
	void (*send_motion)(int dx, int dy, unsigned buttons); // PS/2 sense: up is positive
	// Light changes the system asked the keyboard device for since the last
	// call, applied to led_bits (0x01 Scroll, 0x02 Num, 0x04 Caps); true
	// when they changed.
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
	// The last event handed to send_key, with the modifier combination of
	// the lookup whose value went out: its own, or, for a release or a
	// repeat that the form sends as the press sent it (an input device),
	// the press's.
	key_event sent_for{};
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
// Opens path for writing as a stdio stream, never creating it: a missing
// device must fail start-up, not become a regular file in /dev.
[[nodiscard]] FILE *open_device_stream(const char *path);

inline void send_key_event(const key_event &event)
{
	outputs.sent_for = event;
	outputs.form->send_key(event);
}
