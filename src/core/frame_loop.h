// The daemon's steady state: bytes in, frames checked, frames dispatched.
#pragma once

#include "core/frame_reader.h"

// Hands a good frame to the handler of its kind.
void dispatch_frame(frame_kind kind, const serial_frame &frame);

// Reads the serial line for ever; leaves only through exit() on a stop.
[[noreturn]] void frame_loop();
