// The daemon's steady state: bytes in, frames checked, frames dispatched.
#pragma once

#include "serial/frame_reader.h"

// Printed for every frame whose checksum does not match.
inline constexpr char checksum_error_message[] = "Error checksum\n";

// Hands a good frame to the handler of its kind.
void dispatch_frame(frame_kind kind, const serial_frame &frame);

// One byte from the line into the frame reader; a completed frame is
// dispatched, or reported when its checksum is wrong. Says what the byte
// did to the reader.
frame_event handle_serial_byte(uint8_t byte);

// Lights that the system set on an input device, out to the keyboard.
void carry_system_lights();

// The reader back to waiting for a header, as at start-up.
void reset_frame_loop();

// Reads the serial line for ever; leaves only through exit() on a stop.
[[noreturn]] void frame_loop();
