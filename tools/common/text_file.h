// Small text helpers that the tools and the tests share: a whole file into a
// string, and hexadecimal digits as people write bytes ("4B 01 1C").
#pragma once

#include <cstdint>
#include <string>

// Appends the file's whole content to text; false when it cannot be opened.
[[nodiscard]] bool read_whole_file(const std::string &path, std::string &text);

// 0-15 for a hexadecimal digit of either case, -1 for anything else.
[[nodiscard]] int hex_digit_value(char c);

// Exactly two hexadecimal digits, as one byte.
[[nodiscard]] bool read_hex_pair(char high, char low, uint8_t &value);
