// The monotonic clock in nanoseconds, for pacing and rate limits.
//
// Kept in 64 bits: a long is 32 bits on the handheld, where seconds times a
// billion would overflow it. Every read is a system call there (its kernel
// has no fast user-space clock), so callers read it only off the hot path.
#pragma once

#include <cstdint>
#include <ctime>

[[nodiscard]] inline int64_t monotonic_ns()
{
	timespec now{};
	clock_gettime(CLOCK_MONOTONIC, &now);
	return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}
