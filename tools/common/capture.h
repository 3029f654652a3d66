// Captures: the bytes that came off the adapter's serial line, with the
// time each piece arrived, as a small text file that people can read and
// edit and that ps2sim can play back into the daemon.
//
//   ps2link capture 1
//   # from /dev/ttyS1 at 9600 bit/s
//   0.000000 4B 01 12 00 00 13
//   0.041877 4B 02 F0 12 00 04
//
// The first line names the format and its version. After it, a line that
// begins with "#" is a comment and a blank line is nothing; every other line
// is one piece of input as a read returned it: the seconds since the
// recording started (six decimals, never decreasing from one line to the
// next), then the bytes, two hexadecimal digits each, separated by single
// blanks. ps2trace writes at most 16 bytes to a line; a longer piece goes on
// several lines with the same time. docs/ps2link-capture.5 is the manual.
//
// There is one reader, for ps2trace (which takes anything that does not
// begin like a capture as raw bytes) and ps2sim (which takes captures
// only): input that begins like a capture but is not one (another version,
// line ends with a carriage return, a header cut short) is refused by both
// with the same words.
//
// Every line is read into a buffer of a fixed size, capture_line_limit
// bytes, and the reader needs no more memory than that whatever the length
// of the capture; a longer line is refused with its number.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "fixed_text.h"

inline constexpr const char *capture_header = "ps2link capture 1";
// What every capture's first line begins with, whatever its version.
inline constexpr const char *capture_magic = "ps2link capture";

// The longest line, without its newline: far past the 57 bytes of a line of
// 16 bytes that ps2trace writes, and past anything typed by hand.
inline constexpr std::size_t capture_line_limit = 65536;
// The most bytes such a line can hold ("0.000000 4B 01 ...").
inline constexpr std::size_t capture_chunk_limit = capture_line_limit / 3;

struct capture_chunk {
	long long micros = 0; // since the recording started
	std::array<uint8_t, capture_chunk_limit> bytes{};
	std::size_t length = 0;
};

[[nodiscard]] inline std::span<const uint8_t> bytes_of(const capture_chunk &chunk)
{
	return std::span<const uint8_t>(chunk.bytes.data(), chunk.length);
}

enum class capture_line_kind { chunk, nothing, bad };

// One line after the header, without its newline. A chunk fills chunk; a
// bad line says why in error. Times are checked against previous_micros.
[[nodiscard]] capture_line_kind parse_capture_line(std::string_view line,
						   long long previous_micros,
						   capture_chunk &chunk, message_text &error);

// What is done with each piece as its line is read: send it, keep it,
// look at its time; context is the caller's.
using capture_taker = void (*)(const capture_chunk &chunk, void *context);

// Input as it arrives, line by line. undecided until the first bytes tell;
// not_capture when they do not begin like a capture (they stay in pending,
// for a caller that takes raw bytes: such a caller feeds at most
// capture_line_limit / 2 bytes at a time); bad once error is set.
enum class capture_kind { undecided, capture, not_capture, bad };

struct capture_reader {
	std::string_view name; // the input, for messages; the caller's text
	capture_taker take = nullptr; // null: the capture is only checked
	void *context = nullptr;
	capture_kind kind = capture_kind::undecided;
	std::array<char, capture_line_limit> pending{}; // bytes not yet part of a whole line
	std::size_t pending_length = 0;
	int line_number = 0; // of the last whole line taken
	long long previous_micros = 0;
	capture_chunk chunk; // the piece of the line being taken
	message_text error; // "name:line: why" once bad
};

// Takes bytes of the input; each whole line after the header that holds
// bytes is handed to the reader's taker.
capture_kind feed_capture(capture_reader &reader, std::span<const uint8_t> bytes);
// The end of the input: a last line without its newline, a header cut
// short or no byte at all.
capture_kind finish_capture(capture_reader &reader);

// A whole capture from a descriptor, read in blocks of a fixed size, each
// piece handed to take (unless it is null) as its line is read. False with
// "name:line: why" (or "name: why") in error; pieces before a bad line may
// have been taken.
[[nodiscard]] bool read_capture_from(int fd, std::string_view name, capture_taker take,
				     void *context, message_text &error);

// The header line and a comment saying where the bytes come from.
void write_capture_header(FILE *out, std::string_view source);
// One piece of input, flushed, so that a capture cut short by a signal or a
// crash holds everything received before.
void write_capture_chunk(FILE *out, long long micros, std::span<const uint8_t> bytes);
