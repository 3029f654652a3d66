// Touch events out to the handheld's touch-screen device.
//
// The device takes one text line per event, "pressure x y 0", in panel
// coordinates, flushed at once so that the handheld's touch reader sees it
// as it happens. Both key stream forms use it for the mouse.
#pragma once

#include <cstdio>

extern FILE *touch_out; // null until start-up opens it (with -M)

// No stream: the state before start-up. The stream is not closed here.
void reset_touch_text();

// Start-up: opens the touch device. 0, or -1 when it cannot be opened.
[[nodiscard]] int open_touch_text();
// Start-up on a caller's stream in the device's place (null: none).
void attach_touch_text(FILE *stream);

// Writes one touch line. Nothing is written without a stream or once a stop
// is pending (a stalled reader would block the write with nothing left to
// wake it); the device's results are not acted on.
void send_touch_line(int pressure, int x, int y);

// Exit: closes touch_out, if open.
void close_touch_text();
