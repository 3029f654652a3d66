// What the fuzz targets share: taking fixed fields off the front of an
// input, and output streams that cost nothing. Included by exactly one file
// of each target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The front of a fuzz input, read field by field; an input that ends early
// reads as zeros, so every input is a valid one.
struct input_cursor {
	const uint8_t *data;
	std::size_t size;
};

[[nodiscard]] inline uint8_t take_byte(input_cursor &input)
{
	if (input.size == 0)
		return 0;
	--input.size;
	return *input.data++;
}

// Little-endian, count bytes (at most 4).
[[nodiscard]] inline uint32_t take_number(input_cursor &input, int count)
{
	uint32_t value = 0;
	for (int k = 0; k < count; ++k)
		value |= static_cast<uint32_t>(take_byte(input)) << (8 * k);
	return value;
}

// A write-only stream that drops everything without a system call, for the
// daemon's device streams: the writing code runs in full, flushes included.
[[nodiscard]] inline FILE *open_discard_stream()
{
	cookie_io_functions_t functions{};
	functions.write = [](void *, const char *, size_t size) -> ssize_t {
		return static_cast<ssize_t>(size);
	};
	return fopencookie(nullptr, "w", functions);
}

// The input as a read-only stream; an empty input is an empty file.
[[nodiscard]] inline FILE *open_input_stream(const uint8_t *data, std::size_t size)
{
	static uint8_t empty = 0;
	return fmemopen(size ? const_cast<uint8_t *>(data) : &empty, size, "r");
}

// Resetting the key tables frees 8192 slots one by one, and the sanitizer
// records a call stack for every free: without those records the targets
// run about twice as fast. Reports still show where a fault happened; set
// ASAN_OPTIONS=malloc_context_size=30 when replaying a finding, for the
// stacks of its allocations too.
extern "C" const char *__asan_default_options()
{
	return "malloc_context_size=0";
}
