// Signal handling; see signals.h.
#include "daemon/signals.h"

#include <csignal>
#include <cstdlib>
#include <ctime>

#include "core/message_log.h"
#include "core/readiness.h"
#include "core/stop_request.h"

namespace {

// While a stop is pending, SIGALRM arrives this often and interrupts any
// blocked read, write or close: a stalled consumer can hold the daemon for
// no longer than one period per call it is blocked in.
constexpr long interrupt_period_ns = 50'000'000;

timer_t interrupt_timer{};
volatile sig_atomic_t interrupt_timer_ready = 0;

// SIGALRM only has to interrupt; the interrupted call sees EINTR.
void interrupt_blocked_call(int) {}

void install(int signal_number, void (*handler)(int))
{
	struct sigaction action{};
	action.sa_handler = handler;
	sigemptyset(&action.sa_mask);
	action.sa_flags = 0; // no SA_RESTART: a blocked call must return
	(void)sigaction(signal_number, &action, nullptr);
}

// SIGALRM is caught only once a stop is pending: until then it keeps its
// default effect like every other signal but the three stop signals.
// Everything here is async-signal-safe.
void arm_interrupt_timer()
{
	install(SIGALRM, interrupt_blocked_call);
	itimerspec period{};
	period.it_value.tv_nsec = interrupt_period_ns;
	period.it_interval.tv_nsec = interrupt_period_ns;
	(void)timer_settime(interrupt_timer, 0, &period, nullptr);
}

// Records the first stop signal and starts the interrupting timer.
void handle_signal(int signal_number)
{
	if (stop_signal != 0)
		return;
	stop_signal = signal_number;
	if (interrupt_timer_ready)
		arm_interrupt_timer();
}

} // namespace

void create_interrupt_timer()
{
	interrupt_timer_ready = 0;
	sigevent event{};
	event.sigev_notify = SIGEV_SIGNAL;
	event.sigev_signo = SIGALRM;
	if (timer_create(CLOCK_MONOTONIC, &event, &interrupt_timer) != 0)
		return;
	interrupt_timer_ready = 1;
	// A stop that came in while there was no timer still needs one.
	if (stop_pending())
		arm_interrupt_timer();
}

void install_signal_handlers()
{
	create_interrupt_timer();
	install(SIGINT, handle_signal);
	install(SIGTERM, handle_signal);
	install(SIGHUP, handle_signal);
	// A reader that goes away from an output is a failed write like any
	// other, not a reason to die without the clean-up.
	(void)signal(SIGPIPE, SIG_IGN);
}

void act_on_pending_stop()
{
	if (!stop_pending())
		return;
	notify_service_manager(stopping_notice);
	print_message(LOG_NOTICE, signal_message, static_cast<int>(stop_signal));
	exit(1);
}

