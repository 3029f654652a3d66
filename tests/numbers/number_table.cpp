// The number reader on a table of awkward numbers, one line each.
//
// The key map and the calibration file are read by one number reader that
// must give, for every input, what the C library's scanf ("%lx", "%d") gives
// on the 32-bit handheld. This program prints what the reader makes of each
// input: the same text on every machine it runs on (the build machine, and
// the handheld's CPU under an emulator with either C library), compared
// with number_table.expected. Built against glibc for the handheld's ARM
// core (NUMBER_TABLE_WITH_SCANF), it also asks scanf itself and fails on any
// difference: that run is what makes the expected text the reference.
//
// Plain C library only, so that it builds against any C library.
#include <cstdio>
#include <cstring>

#include "core/number_reader.h"

namespace {

constexpr const char *awkward_numbers[] = {
	// plain, and the edges of 32 bits
	"0", "1e", "FF", "ff", "7fffffff", "80000000", "FFFFFFFF", "100000000",
	"2147483647", "2147483648", "-2147483648", "-2147483649", "4294967295", "4294967296",
	"4294967299",
	// 8 to 20 digits
	"12345678", "123456789", "1234567890", "12345678901", "99999999999", "123456789012345",
	"1234567890123456789", "12345678901234567890", "FFFFFFFFFFFFFFFFFFFF",
	"00000000000000000001", "0000000000FFFFFFFF", "00000000100000000",
	// signs
	"+1", "-1", "+-1", "-+1", "--1", "-", "+", "- 1", "-0", "+0", "-FFFFFFFF", "-100000000",
	"-80000000", "-7fffffff", "-0x10", "+0x10",
	// the 0x prefix
	"0x", "0X", "0x0", "0x1f", "0X1F", "0xg", "0x 5", "00x5", "0x0x5", "x5", "0xFFFFFFFF",
	"0x100000000", "-0x", "0x-1",
	// blanks and what follows the digits
	"  12", "\t12", "\n12", "\v\f\r12", "12abc", "12 34", "1e2", "1.5", "", "   ", "g1",
	"12\n",
};

struct reading {
	bool found;
	long value;
	int used;
};

reading hex_reading(const char *text)
{
	number_source source{text};
	hex_number number = read_hex_number(source);
	return {number.found, static_cast<long>(number.value), static_cast<int>(source.text - text)};
}

reading decimal_reading(const char *text)
{
	number_source source{text};
	decimal_number number = read_decimal_number(source);
	return {number.found, number.value, static_cast<int>(source.text - text)};
}

// The input with its control characters spelled out.
void print_input(const char *text)
{
	putchar('"');
	for (const char *c = text; *c; ++c) {
		switch (*c) {
		case '\t': fputs("\\t", stdout); break;
		case '\n': fputs("\\n", stdout); break;
		case '\v': fputs("\\v", stdout); break;
		case '\f': fputs("\\f", stdout); break;
		case '\r': fputs("\\r", stdout); break;
		default: putchar(*c); break;
		}
	}
	putchar('"');
}

void print_reading(const char *form, const reading &r, bool as_hex)
{
	if (!r.found)
		printf(" %s none", form);
	else if (as_hex)
		printf(" %s %08lX used %d", form, static_cast<unsigned long>(r.value), r.used);
	else
		printf(" %s %ld used %d", form, r.value, r.used);
}

#ifdef NUMBER_TABLE_WITH_SCANF
// scanf's own reading: the number, and what it consumed when it found one.
reading scanf_hex(const char *text)
{
	unsigned long value = 0;
	int used = 0;
	bool found = sscanf(text, "%lx%n", &value, &used) == 1;
	return {found, found ? static_cast<long>(value) : 0, found ? used : 0};
}

reading scanf_decimal(const char *text)
{
	int value = 0;
	int used = 0;
	bool found = sscanf(text, "%d%n", &value, &used) == 1;
	return {found, found ? value : 0, found ? used : 0};
}

bool same(const reading &a, const reading &b)
{
	return a.found == b.found && (!a.found || (a.value == b.value && a.used == b.used));
}
#endif

} // namespace

int main()
{
	static_assert(sizeof(long) >= 4);
	int differences = 0;
	for (const char *text : awkward_numbers) {
		reading hex = hex_reading(text);
		reading decimal = decimal_reading(text);
		print_input(text);
		print_reading("hex", hex, true);
		print_reading("dec", decimal, false);
		putchar('\n');
#ifdef NUMBER_TABLE_WITH_SCANF
		if (sizeof(long) != 4) {
			puts("scanf reference needs a 32-bit long");
			return 1;
		}
		if (!same(hex, scanf_hex(text)) || !same(decimal, scanf_decimal(text))) {
			++differences;
			fputs("  scanf:", stdout);
			print_reading("hex", scanf_hex(text), true);
			print_reading("dec", scanf_decimal(text), false);
			puts("  <- DIFFERS");
		}
#endif
	}
	if (differences != 0)
		printf("%d inputs read differently from scanf\n", differences);
	return differences == 0 ? 0 : 1;
}
