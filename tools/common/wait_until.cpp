// The clock and the pause of the waits; see wait_until.h.
#include "wait_until.h"

#include <cerrno>
#include <ctime>

long long monotonic_ms()
{
	timespec now{};
	clock_gettime(CLOCK_MONOTONIC, &now);
	return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

void sleep_ms(int ms)
{
	timespec left{ms / 1000, (ms % 1000) * 1000000L};
	while (nanosleep(&left, &left) != 0 && errno == EINTR) {
	}
}
