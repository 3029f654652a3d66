// Text built in a buffer of a fixed size, for the tools that run on the
// handheld without a C++ runtime (no std::string there: it throws and
// allocates).
//
// A message or a line of the trace is put together piece by piece, as
// std::string would, in a std::array of a size chosen for it, large enough
// for what goes in; what would run past the end is left off. Input that
// must not lose a byte (a capture's line, a script line) is bounded where
// it is read, and refused past its bound.
#pragma once

#include <array>
#include <cstdarg>
#include <cstddef>
#include <span>
#include <string_view>

// count bytes of text from start on, or as many as there are: substr()
// without its exception (which would need the C++ runtime).
[[nodiscard]] constexpr std::string_view piece_of(std::string_view text, std::size_t start,
						  std::size_t count = std::string_view::npos)
{
	if (start > text.size())
		start = text.size();
	return std::string_view(text.data() + start, count < text.size() - start ? count : text.size() - start);
}

template <std::size_t capacity>
struct fixed_text {
	std::array<char, capacity> text{};
	std::size_t length = 0;
};

// Room for every message of the tools: two paths of the kernel's longest
// (PATH_MAX) and words around them.
inline constexpr std::size_t message_limit = 9000;
using message_text = fixed_text<message_limit>;

// The pieces below on the buffer itself, so that each size shares one copy.
void append_to(std::span<char> text, std::size_t &length, std::string_view piece);
void append_formatted_to(std::span<char> text, std::size_t &length, const char *format,
			 va_list arguments);

template <std::size_t capacity>
void append(fixed_text<capacity> &text, std::string_view piece)
{
	append_to(text.text, text.length, piece);
}

template <std::size_t capacity>
[[gnu::format(printf, 2, 3)]] void append_format(fixed_text<capacity> &text, const char *format, ...)
{
	va_list arguments;
	va_start(arguments, format);
	append_formatted_to(text.text, text.length, format, arguments);
	va_end(arguments);
}

template <std::size_t capacity>
[[nodiscard]] std::string_view view_of(const fixed_text<capacity> &text)
{
	return {text.text.data(), text.length};
}

// The text with a NUL after it, for the C library (every append writes
// one; the buffer's last byte is kept for it).
template <std::size_t capacity>
[[nodiscard]] const char *c_text(const fixed_text<capacity> &text)
{
	return text.text.data();
}

// "4B 01 1C": bytes in hexadecimal, as people read them.
void append_hex_to(std::span<char> text, std::size_t &length,
		   std::span<const unsigned char> bytes);

template <std::size_t capacity>
void append_hex(fixed_text<capacity> &text, std::span<const unsigned char> bytes)
{
	append_hex_to(text.text, text.length, bytes);
}
