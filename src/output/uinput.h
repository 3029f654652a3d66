// The adapter as standard input devices, for kernels that have no /dev/kbd
// or /dev/ts (-u): a keyboard, and with -M a mouse, made through the
// kernel's uinput module, so that the console, X, Wayland compositors and
// anything else that reads /dev/input sees them as it sees any keyboard
// and mouse.
//
// The keyboard ("ps2link keyboard", bus RS-232) declares every key code
// from 1 to 255 (udev and libinput take a device for a keyboard only when
// the ordinary keys are there) and whatever further code the key map
// sends, MSC_SCAN, and the NumLock, Caps Lock and Scroll Lock lights. Each
// key event is MSC_SCAN with the scan code numbered as the kernel's own
// PS/2 keyboard driver numbers raw set-2 codes, then the key, then
// SYN_REPORT. The mouse ("ps2link mouse") is a relative pointer with three
// buttons. The system sets the lights by writing EV_LED to the keyboard
// device; uinput hands each change to our descriptor, and the frame loop
// carries the new state to the adapter.
#pragma once

#include <cstdint>

// Opening /dev/uinput (else /dev/input/uinput) failed: "Error opening
// uinput device PATH: CAUSE; HINT".
inline constexpr char uinput_open_failed_format[] = "Error opening uinput device %s: %s; %s\n";
inline constexpr char uinput_missing_hint[] = "load the module with \"modprobe uinput\"";
inline constexpr char uinput_permission_hint[] = "run as root or give access with a udev rule";
inline constexpr char uinput_create_failed_format[] = "Error creating uinput device %s: %s\n";

inline constexpr char uinput_keyboard_name[] = "ps2link keyboard";
inline constexpr char uinput_mouse_name[] = "ps2link mouse";

// The MSC_SCAN number of the Pause key, which the adapter reports only as
// the start of its E1 14 77 sequence (the daemon looks it up as E0 80).
inline constexpr uint32_t pause_scan_number = 0xE11477;

// The MSC_SCAN number of a set-2 code: plain codes below 0x80 as they are,
// plain codes from 0x80 as 0x100 plus their low seven bits, codes after E0
// with 0x80 added (E0 75 is 0xF5); Pause as above.
[[nodiscard]] uint32_t kernel_scan_number(uint8_t scan_code, uint8_t prefix_index);

// The key code a key map value sends on the input device: the value itself
// when it is a key code the kernel knows (up to KEY_MAX) and no wrapped
// key, else its low byte. 0 sends nothing.
[[nodiscard]] unsigned uinput_key_code(uint32_t value);

// Everything back to its state before start-up. Nothing is closed.
void reset_uinput();
