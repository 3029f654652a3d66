// Reading numbers out of the key map and the calibration file.
//
// Both files were always read with the C library's scanf family, whose
// result for a number that does not fit is undefined: it differs between C
// libraries and between 32- and 64-bit builds. The daemon on the handheld
// (32-bit, whose C library saturates) is the reference, so this reader gives
// for every input what that scanf gives there, wherever it runs:
//
//   hexadecimal (the "%x" and "%lx" fields): blanks, an optional sign, an
//   optional 0x or 0X after a leading 0, hex digits. A value above
//   0xFFFFFFFF reads as 0xFFFFFFFF (whatever the sign); otherwise a minus
//   sign negates modulo 2^32. "0x" with no digit after it reads as 0, the
//   x consumed.
//
//   decimal (the "%d" fields): blanks, an optional sign, decimal digits. A
//   value outside the 32-bit range reads as 2147483647 or -2147483648.
//
// A sign with no digit after it, or no digit at all, is no number. The
// reader takes characters from a string or from a stream one at a time and
// consumes exactly what scanf would have consumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Where the characters come from: a string (text) or a stream (stream).
struct number_source {
	const char *text = nullptr; // advanced past what was read
	FILE *stream = nullptr;
};

struct hex_number {
	bool found;
	uint32_t value;
};

struct decimal_number {
	bool found;
	int32_t value;
};

[[nodiscard]] hex_number read_hex_number(number_source &source);
[[nodiscard]] decimal_number read_decimal_number(number_source &source);
