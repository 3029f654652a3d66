// The pending stop: how a caught signal reaches the rest of the daemon.
//
// The signal handler only records the signal. The frame loop, and start-up
// where it waits, see the record and end the process through exit(), so the
// exit clean-up never runs on top of an interrupted stdio call. Device
// writers look at the record too: once a stop is pending they start no new
// write, because a consumer that stopped reading would block them again.
#pragma once

#include <csignal>

// 0, or the number of the signal that asked the daemon to stop.
// Written by the signal handler, read everywhere else.
extern volatile sig_atomic_t stop_signal;

// No stop pending: the state before any signal.
void reset_stop_request();

[[nodiscard]] inline bool stop_pending()
{
	return stop_signal != 0;
}
