// Waiting on a condition instead of sleeping for a guessed time.
//
// The tests and tools wait for things another process does: a daemon that
// reaches read(), bytes it has taken, text it has written. Each such wait
// polls its condition on the monotonic clock (wall-clock steps must not cut
// a wait short or stretch it) with a short pause between tries, and gives
// up at a deadline so that a fault shows as a failure, not a hang.
#pragma once

#include <algorithm>

// Milliseconds of the monotonic clock.
[[nodiscard]] long long monotonic_ms();

// Sleeps for so many milliseconds (restarted when a signal interrupts it).
void sleep_ms(int ms);

inline constexpr int wait_step_ms = 1;

// Tries the condition until it holds (true) or timeout_ms have passed
// (false). It is always tried at least once, and once more after the
// deadline's last pause.
template <typename Condition>
[[nodiscard]] bool wait_until(int timeout_ms, Condition &&holds, int step_ms = wait_step_ms)
{
	const long long deadline = monotonic_ms() + timeout_ms;
	for (;;) {
		if (holds())
			return true;
		if (monotonic_ms() >= deadline)
			return false;
		sleep_ms(step_ms);
	}
}

// What one try of a waited-for condition saw.
enum class wait_check {
	holds,     // the condition holds: the wait is over
	changed,   // not yet, but something moved since the last try
	unchanged, // not yet, and nothing moved
};

// The pause of a wait that may last long: short at first and after every
// try that saw something move, doubled after every try that saw nothing,
// up to a cap, so that a wait of seconds costs a few tries a second while
// one that ends at once (the next step of a process already moving) is
// still seen within a millisecond or two.
inline constexpr int backoff_first_ms = 1;
inline constexpr int backoff_longest_ms = 50;

// Tries the check until it holds (true) or timeout_ms have passed (false),
// pausing between tries as above. Tried at least once, and once more after
// the deadline's last pause.
template <typename Check>
[[nodiscard]] bool wait_with_backoff(int timeout_ms, Check &&check)
{
	const long long deadline = monotonic_ms() + timeout_ms;
	int step_ms = 0; // no pause yet
	for (;;) {
		const wait_check seen = check();
		if (seen == wait_check::holds)
			return true;
		if (monotonic_ms() >= deadline)
			return false;
		step_ms = seen == wait_check::changed || step_ms == 0
				  ? backoff_first_ms
				  : std::min(2 * step_ms, backoff_longest_ms);
		sleep_ms(step_ms);
	}
}
