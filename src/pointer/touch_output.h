// Touch events out to the handheld: the one seam every touch line passes.
//
// The touch-screen device takes one text line per event, "pressure x y 0",
// in panel coordinates, flushed at once so that the handheld's touch reader
// sees it as it happens.
#pragma once

#include <cstdio>

extern FILE *touch_out; // null until start-up opens it (with -M)

// No stream: the state before start-up. The stream is not closed here.
void reset_touch_output();

// Writes one touch line. Nothing is written without a stream or once a stop
// is pending (a stalled reader would block the write with nothing left to
// wake it); the device's results are not acted on.
void send_touch(int pressure, int x, int y);
