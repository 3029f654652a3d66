// The three signals that stop the daemon.
//
// The handlers only record the signal. The frame loop and start-up act on
// the record: they print the signal message and call exit(1), and exit
// processing runs the clean-up (shutdown.h). Once a stop is pending, an
// interval timer keeps interrupting whatever blocking call the process is in
// (a write to a device nobody reads, a flush in the clean-up), so no stalled
// consumer can hold the daemon past its stop.
#pragma once

// "SIGNAL(%d) " and the Japanese for "was received, so the port is closed
// and the program ends", in EUC-JP, as the handheld's console shows it.
inline constexpr char signal_message[] =
	"SIGNAL(%d) "
	"\xa4\xf2\xbc\xf5\xa4\xb1\xa4\xbf\xa4\xce\xa4\xc7\xa5\xdd\xa1\xbc\xa5\xc8\xa4\xf2"
	"\xca\xc4\xa4\xb8\xa4\xc6\xbd\xaa\xce\xbb\xa4\xb7\xa4\xde\xa4\xb9\xa1\xa3\n";
static_assert(sizeof signal_message - 1 == 50);

// Installs the stop handler for SIGINT, SIGTERM and SIGHUP (in that order),
// prepares the interrupting timer (whose SIGALRM is caught only once a stop
// is pending) and ignores SIGPIPE.
void install_signal_handlers();

// Creates the interrupting timer of this process. Timers are not inherited
// across fork, so the process that detaches into the background makes its
// own.
void create_interrupt_timer();

// When a stop is pending: tells a service manager the stop has begun
// (core/readiness.h), prints the signal message and calls exit(1).
void act_on_pending_stop();
