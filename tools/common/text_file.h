// Small text helpers that the tools and the tests share: a whole file as
// text, and hexadecimal digits as people write bytes ("4B 01 1C").
#pragma once

#include <cstdint>
#include <cstdio>

// Appends the file's whole content to text, anything with append(const
// char *, size) (the tests' strings); false when it cannot be opened. In
// the header, so that the tools built without a C++ runtime carry none of
// the string code.
template <typename Text>
[[nodiscard]] bool read_whole_file(const char *path, Text &text)
{
	FILE *file = fopen(path, "rb");
	if (!file)
		return false;
	char buffer[4096];
	std::size_t got;
	while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
		text.append(buffer, got);
	(void)fclose(file); // read only
	return true;
}

// 0-15 for a hexadecimal digit of either case, -1 for anything else.
[[nodiscard]] int hex_digit_value(char c);

// Exactly two hexadecimal digits, as one byte.
[[nodiscard]] bool read_hex_pair(char high, char low, uint8_t &value);
