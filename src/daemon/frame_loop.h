// The daemon's steady state: bytes in, frames checked, frames dispatched.
#pragma once

#include "serial/frame_reader.h"

// Printed for every frame whose checksum does not match. In the system log,
// and in the journal when standard output is the journal, at most once a
// second: the next bad frame's line counts those left out, or, when none
// comes, a line of the count alone once the second is over (or at exit).
inline constexpr char checksum_error_message[] = "Error checksum\n";
inline constexpr char checksum_errors_left_out_format[] = "Error checksum (%u more not logged)\n";
inline constexpr char checksum_errors_not_logged_format[] = "Error checksum: %u more not logged\n";

// When the adapter's line is lost, and when it is back.
inline constexpr char line_lost_format[] = "Serial line %s lost; trying to open it every second\n";
inline constexpr char line_back_format[] = "Serial line %s is back\n";

// Hands a good frame to the handler of its kind.
void dispatch_frame(frame_kind kind, const serial_frame &frame);

// One byte from the line into the frame reader; a completed frame is
// dispatched, or reported when its checksum is wrong. Says what the byte
// did to the reader.
frame_event handle_serial_byte(uint8_t byte);
// The same without the checksum message, for a tool that shows the byte's
// fate itself (the frame observer hears of every drop).
frame_event translate_serial_byte(uint8_t byte);

// The count of bad frames left out of the log, if any, printed now and
// cleared. For the exit clean-up.
void report_checksums_left_out();

// Lights that the system set on an input device, out to the keyboard.
void carry_system_lights();

// Every key still down released and a touch that is down lifted; the frame
// being collected, the Pause tail, the modifiers and the joystick's buttons
// forgotten. For a line that is lost, and for the exit.
void release_held_input();

// The reader back to waiting for a header, as at start-up.
void reset_frame_loop();

// Reads the serial line for ever; leaves only through exit() on a stop.
[[noreturn]] void frame_loop();
