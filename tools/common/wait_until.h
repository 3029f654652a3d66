// Waiting on a condition instead of sleeping for a guessed time.
//
// The tests and tools wait for things another process does: a daemon that
// reaches read(), bytes it has taken, text it has written. Each such wait
// polls its condition on the monotonic clock (wall-clock steps must not cut
// a wait short or stretch it) with a short pause between tries, and gives
// up at a deadline so that a fault shows as a failure, not a hang.
#pragma once

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
