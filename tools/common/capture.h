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
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char *capture_header = "ps2link capture 1";
// What every capture's first line begins with, whatever its version.
inline constexpr const char *capture_magic = "ps2link capture";

struct capture_chunk {
	long long micros = 0; // since the recording started
	std::vector<uint8_t> bytes;
};

enum class capture_line_kind { chunk, nothing, bad };

// One line after the header, without its newline. A chunk fills chunk; a
// bad line sets error. Times are checked against previous_micros.
[[nodiscard]] capture_line_kind parse_capture_line(std::string_view line,
						   long long previous_micros,
						   capture_chunk &chunk, std::string &error);

// Input as it arrives, line by line. undecided until the first bytes tell;
// not_capture when they do not begin like a capture (they stay in pending,
// for a caller that takes raw bytes); bad once error is set.
enum class capture_kind { undecided, capture, not_capture, bad };

struct capture_reader {
	std::string name; // the input, for messages
	capture_kind kind = capture_kind::undecided;
	std::string pending; // bytes not yet part of a whole line
	std::size_t scanned = 0; // bytes of pending already searched for a newline
	int line_number = 0; // of the last whole line taken
	long long previous_micros = 0;
	std::string error; // "name:line: why" once bad
};

// Takes bytes of the input; each whole line after the header that holds
// bytes is appended to chunks.
capture_kind feed_capture(capture_reader &reader, std::span<const uint8_t> bytes,
			  std::vector<capture_chunk> &chunks);
// The end of the input: a last line without its newline, a header cut
// short or no byte at all.
capture_kind finish_capture(capture_reader &reader, std::vector<capture_chunk> &chunks);

// What is done with the pieces read so far: send them, keep them, forget
// them; the list is the caller's to clear.
using capture_taker = void (*)(std::vector<capture_chunk> &chunks);

// A whole capture from a descriptor, read in blocks of a fixed size; after
// every block the pieces of its whole lines are appended to chunks and,
// unless take is null, handed to take, so that a capture of any length
// needs no more memory than its longest line. False with "name:line: why"
// (or "name: why") in error; pieces before a bad line may have been
// taken.
[[nodiscard]] bool read_capture_from(int fd, const std::string &name,
				     std::vector<capture_chunk> &chunks, capture_taker take,
				     std::string &error);

// The header line and a comment saying where the bytes come from.
void write_capture_header(FILE *out, const std::string &source);
// One piece of input, flushed, so that a capture cut short by a signal or a
// crash holds everything received before.
void write_capture_chunk(FILE *out, long long micros, std::span<const uint8_t> bytes);
