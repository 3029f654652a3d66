// The number reader; see number_reader.h.
#include "core/number_reader.h"

namespace {

constexpr uint64_t largest_unsigned = 0xFFFFFFFF;
constexpr int64_t largest_signed = 2147483647;
constexpr int64_t smallest_signed = -2147483647 - 1;

// The next character without taking it, EOF at the end.
int peek_char(const number_source &source)
{
	if (source.stream) {
		int c = getc(source.stream);
		if (c != EOF)
			(void)ungetc(c, source.stream);
		return c;
	}
	return *source.text ? static_cast<unsigned char>(*source.text) : EOF;
}

void take_char(number_source &source)
{
	if (source.stream)
		(void)getc(source.stream);
	else if (*source.text)
		++source.text;
}

// The blanks of the C locale.
bool is_blank(int c)
{
	return c == ' ' || (c >= '\t' && c <= '\r');
}

int digit_value(int c, int base)
{
	int value = 99;
	if (c >= '0' && c <= '9')
		value = c - '0';
	else if (c >= 'a' && c <= 'f')
		value = c - 'a' + 10;
	else if (c >= 'A' && c <= 'F')
		value = c - 'A' + 10;
	return value < base ? value : -1;
}

struct digits_read {
	bool found;    // at least one digit (a leading 0 counts)
	bool negative;
	bool overflow; // past the limit
	uint64_t magnitude;
};

// Blanks, a sign, for base 16 the 0x prefix, then digits, accumulated up to
// limit and marked as overflowing past it.
digits_read read_digits(number_source &source, int base, uint64_t limit)
{
	digits_read read{false, false, false, 0};
	while (is_blank(peek_char(source)))
		take_char(source);
	int c = peek_char(source);
	if (c == '+' || c == '-') {
		read.negative = c == '-';
		take_char(source);
	}
	if (peek_char(source) == '0') {
		read.found = true;
		take_char(source);
		c = peek_char(source);
		if (base == 16 && (c == 'x' || c == 'X'))
			take_char(source);
	}
	for (int digit; (digit = digit_value(peek_char(source), base)) >= 0; take_char(source)) {
		read.found = true;
		if (read.overflow)
			continue;
		read.magnitude = read.magnitude * static_cast<unsigned>(base) +
				 static_cast<unsigned>(digit);
		if (read.magnitude > limit)
			read.overflow = true;
	}
	return read;
}

} // namespace

hex_number read_hex_number(number_source &source)
{
	digits_read read = read_digits(source, 16, largest_unsigned);
	if (!read.found)
		return {false, 0};
	if (read.overflow)
		return {true, static_cast<uint32_t>(largest_unsigned)};
	uint32_t value = static_cast<uint32_t>(read.magnitude);
	return {true, read.negative ? 0U - value : value};
}

decimal_number read_decimal_number(number_source &source)
{
	// One past the largest value, so that -2147483648 still fits.
	digits_read read = read_digits(source, 10, static_cast<uint64_t>(largest_signed) + 1);
	if (!read.found)
		return {false, 0};
	int64_t value = read.negative ? -static_cast<int64_t>(read.magnitude)
				      : static_cast<int64_t>(read.magnitude);
	if (read.overflow || value > largest_signed)
		value = read.negative ? smallest_signed : largest_signed;
	return {true, static_cast<int32_t>(value)};
}
