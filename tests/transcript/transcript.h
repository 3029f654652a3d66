// Transcripts: a translation case written once, as plain text, and run both
// in-process (tests/transcript/run_transcript.cpp) and against the real
// binary (tests/e2e/transcript_replay_test.cpp).
//
// A transcript file (tests/transcripts/*.t) says what the daemon is given and
// every byte each device must receive from it:
//
//   # What this transcript shows (comment lines, before the first section).
//   options: -M -x                the daemon's arguments (-M -V -x -c only)
//   [key map]                     key map lines, verbatim
//   1C a - 1E
//   [key map: etc/ser_code_vantor.ini]   or a key map of the source tree
//   [pointercal]                  the calibration file, verbatim
//   [input]                       simulator script lines (type, tap, key,
//   tap a                         joy, mouse, raw, say, pause, # comments),
//   frame K 01 1C 00 00           plus "frame": header and payload, with
//                                 the checksum worked out
//   [kbd]          text devices, one line each; "$" ends a line that ends
//    30 1 $        in a newline, \xHH stands for a byte that is not
//   [ts]           printable (and for "$" or "\" themselves)
//   [stdout]       what the daemon prints ("Error checksum")
//   [keypipe]      byte devices in hexadecimal, laid out as you like
//   1E 01 1E 00
//   [adapter]      commands written back on the serial line
//   6B ED 02
//
// Blank lines are ignored. A device without a section must receive nothing.
// Output sections hold only expected bytes: `make update-transcripts`
// rewrites them from an in-process run, one line per input line that caused
// output, for review before commit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "text_file.h"

// The devices a transcript compares, in the order their sections are written.
enum class transcript_device : uint8_t { kbd, keypipe, ts, adapter, stdout_text };
inline constexpr std::size_t transcript_device_count = 5;
inline constexpr std::array<const char *, transcript_device_count> transcript_device_names = {
	"kbd", "keypipe", "ts", "adapter", "stdout"};
static_assert(static_cast<std::size_t>(transcript_device::stdout_text) + 1 ==
	      transcript_device_count);

// Whether a device's section is written in hexadecimal (raw bytes) or as
// text lines.
[[nodiscard]] bool device_in_hex(std::size_t device);

struct transcript_input {
	int line_number = 0;
	std::vector<uint8_t> bytes; // what the adapter sends for this line
};

struct transcript {
	std::string path;
	std::vector<std::string> lines; // the file as read, for rewriting
	std::vector<std::string> options;
	std::string key_map; // the key map file's text
	std::optional<std::string> pointercal;
	std::vector<transcript_input> input;
	std::array<std::string, transcript_device_count> expected;
	std::array<std::vector<std::string>, transcript_device_count> expected_lines;
	std::vector<bool> output_line; // per line of the file: part of an output section
};

// Reads and checks a transcript; key map paths are taken from source_root.
// On failure returns false with "file:line: reason" in error.
[[nodiscard]] bool read_transcript(const std::string &path, const std::string &source_root,
				   transcript &t, std::string &error);


// All input bytes in order.
[[nodiscard]] std::vector<uint8_t> all_input(const transcript &t);

// What the devices received in a run. breaks[d] holds the device's size
// after start-up and after each input line, so that the bytes can be laid
// out by the input line that caused them.
struct transcript_result {
	std::array<std::string, transcript_device_count> received;
	std::array<std::vector<std::size_t>, transcript_device_count> breaks;
};

// The section lines for bytes a device received.
[[nodiscard]] std::vector<std::string> format_device(std::size_t device, const std::string &bytes,
						     const std::vector<std::size_t> &breaks);

// Compares every device. Empty when all match; otherwise, per differing
// device, expected and actual side by side.
[[nodiscard]] std::string compare_transcript(const transcript &t, const transcript_result &result);

// The file with its output sections replaced by what the run received.
[[nodiscard]] std::string rewrite_transcript(const transcript &t, const transcript_result &result);
