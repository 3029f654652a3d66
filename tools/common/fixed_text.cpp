// Text in fixed buffers; see fixed_text.h.
#include "fixed_text.h"

#include <algorithm>
#include <cstdio>

void append_to(std::span<char> text, std::size_t &length, std::string_view piece)
{
	const std::size_t room = text.size() - 1 - length; // the last byte: c_text's NUL
	const std::size_t count = std::min(room, piece.size());
	std::copy_n(piece.data(), count, text.data() + length);
	length += count;
	text[length] = '\0';
}

void append_formatted_to(std::span<char> text, std::size_t &length, const char *format,
			 va_list arguments)
{
	const std::size_t room = text.size() - length; // vsnprintf ends with a NUL
	const int wanted = vsnprintf(text.data() + length, room, format, arguments);
	if (wanted < 0)
		return;
	const auto whole = static_cast<std::size_t>(wanted);
	length += std::min(whole, room - 1);
}

void append_hex_to(std::span<char> text, std::size_t &length,
		   std::span<const unsigned char> bytes)
{
	constexpr char digits[] = "0123456789ABCDEF";
	for (std::size_t i = 0; i < bytes.size(); ++i) {
		const char piece[3] = {' ', digits[bytes[i] >> 4], digits[bytes[i] & 0xF]};
		append_to(text, length, std::string_view(piece + (i == 0 ? 1 : 0), i == 0 ? 2 : 3));
	}
}
