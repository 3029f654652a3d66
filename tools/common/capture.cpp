// Reading and writing captures; the format is described in capture.h.
#include "capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "text_file.h"

namespace {

constexpr std::size_t bytes_per_line = 16;

// "S.UUUUUU": whole seconds, a point and exactly six digits.
bool parse_time(std::string_view word, long long &micros)
{
	std::size_t point = word.find('.');
	if (point == std::string_view::npos || point == 0 || point > 9 || word.size() != point + 7)
		return false;
	micros = 0;
	for (std::size_t i = 0; i < word.size(); ++i) {
		if (i == point)
			continue;
		if (word[i] < '0' || word[i] > '9')
			return false;
		micros = micros * 10 + (word[i] - '0');
	}
	return true;
}

// A piece of a line as a message quotes it: control bytes (a NUL would end
// the message there) and the backslash written as escapes, and a word that
// runs on cut after its first few dozen bytes.
void append_quoted(message_text &text, std::string_view word)
{
	constexpr std::size_t longest = 40;
	append(text, "\"");
	for (std::size_t i = 0; i < word.size() && i < longest; ++i) {
		const auto byte = static_cast<unsigned char>(word[i]);
		if (byte == '\\')
			append(text, "\\\\");
		else if (byte < 0x20 || byte == 0x7F)
			append_format(text, "\\x%02X", byte);
		else
			append(text, std::string_view(&word[i], 1));
	}
	if (word.size() > longest)
		append(text, "...");
	append(text, "\"");
}

// The shortest line that holds n bytes: the time and three characters a byte.
static_assert((capture_line_limit - 8) / 3 <= capture_chunk_limit);

} // namespace

capture_line_kind parse_capture_line(std::string_view line, long long previous_micros,
				     capture_chunk &chunk, message_text &error)
{
	if (line.empty() || line[0] == '#')
		return capture_line_kind::nothing;
	if (line.back() == '\r') {
		append(error, "the line ends in a carriage return: a capture's lines end in a newline alone");
		return capture_line_kind::bad;
	}
	std::size_t blank = line.find(' ');
	std::string_view time = piece_of(line, 0, blank);
	if (!parse_time(time, chunk.micros)) {
		append(error, "the time ");
		append_quoted(error, time);
		append(error, " must be seconds with six decimals (0.041877)");
		return capture_line_kind::bad;
	}
	if (chunk.micros < previous_micros) {
		append(error, "the time goes backwards");
		return capture_line_kind::bad;
	}
	chunk.length = 0;
	while (blank != std::string_view::npos) {
		std::size_t start = blank + 1;
		blank = line.find(' ', start);
		std::string_view word = piece_of(line, start, blank == std::string_view::npos ? blank : blank - start);
		uint8_t byte = 0;
		if (word.empty()) {
			append(error, "two blanks in a row, or one at the end: bytes are one blank apart");
			return capture_line_kind::bad;
		}
		if (word.size() != 2 || !read_hex_pair(word[0], word[1], byte)) {
			append_format(error, "byte %zu, ", chunk.length + 1);
			append_quoted(error, word);
			append(error, ", is not two hexadecimal digits");
			return capture_line_kind::bad;
		}
		chunk.bytes[chunk.length++] = byte;
	}
	if (chunk.length == 0) {
		append(error, "a time without bytes");
		return capture_line_kind::bad;
	}
	return capture_line_kind::chunk;
}

namespace {

// "name:line: " and the reason after it; the reader is bad from now on.
message_text &start_refusal(capture_reader &reader)
{
	reader.error = {};
	append(reader.error, reader.name);
	append(reader.error, ":");
	if (reader.line_number > 0)
		append_format(reader.error, "%d:", reader.line_number);
	append(reader.error, " ");
	reader.kind = capture_kind::bad;
	return reader.error;
}

capture_kind refuse(capture_reader &reader, std::string_view why)
{
	append(start_refusal(reader), why);
	return reader.kind;
}

constexpr std::string_view not_this_version =
	"not a capture of this version: the first line must be \"ps2link capture 1\"";

// The first line, whole or (at the end of the input) cut short.
capture_kind take_header(capture_reader &reader, std::string_view line, bool whole)
{
	const std::string_view header = capture_header;
	if (line == header && whole) {
		reader.kind = capture_kind::capture;
		return reader.kind;
	}
	if (line == header)
		return refuse(reader, "the header has no newline after it (the first line must be "
				      "\"ps2link capture 1\" and a newline)");
	if (line.size() == header.size() + 1 && line.starts_with(header) && line.back() == '\r')
		return refuse(reader, "the header ends in a carriage return: a capture's lines end in "
				      "a newline alone");
	return refuse(reader, not_this_version);
}

// One whole line (whole: its newline was there).
void take_line(capture_reader &reader, std::string_view line, bool whole)
{
	++reader.line_number;
	if (reader.line_number == 1) {
		(void)take_header(reader, line, whole);
		return;
	}
	message_text why;
	switch (parse_capture_line(line, reader.previous_micros, reader.chunk, why)) {
	case capture_line_kind::chunk:
		reader.previous_micros = reader.chunk.micros;
		if (reader.take)
			reader.take(reader.chunk, reader.context);
		break;
	case capture_line_kind::nothing: break;
	case capture_line_kind::bad:
		message_text &error = start_refusal(reader);
		append(error, view_of(why));
		if (!whole)
			append(error, " (the last line has no newline: cut short?)");
	}
}

// Bytes of a line that is not whole yet, kept for the next read; false
// (refused) when the line would be longer than a capture's line can be.
bool keep_pending(capture_reader &reader, std::span<const char> piece)
{
	if (piece.size() > reader.pending.size() - reader.pending_length) {
		++reader.line_number;
		append_format(start_refusal(reader),
			      "the line is longer than %zu bytes, which no capture's line is "
			      "(ps2trace writes 16 bytes, 57 characters, to a line)",
			      capture_line_limit);
		return false;
	}
	std::copy(piece.begin(), piece.end(), reader.pending.begin() + reader.pending_length);
	reader.pending_length += piece.size();
	return true;
}

// The whole lines among bytes, after what is pending; the rest is kept.
// Each byte is looked at once and copied at most once: a line that arrives
// whole within one read is taken where it lies.
void take_lines(capture_reader &reader, std::span<const char> bytes)
{
	while (reader.kind != capture_kind::bad && !bytes.empty()) {
		const auto *newline = static_cast<const char *>(memchr(bytes.data(), '\n', bytes.size()));
		if (!newline) {
			(void)keep_pending(reader, bytes);
			return;
		}
		const auto length = static_cast<std::size_t>(newline - bytes.data());
		if (reader.pending_length == 0) {
			take_line(reader, std::string_view(bytes.data(), length), true);
		} else {
			if (!keep_pending(reader, bytes.first(length)))
				return;
			take_line(reader, std::string_view(reader.pending.data(), reader.pending_length), true);
			reader.pending_length = 0;
		}
		bytes = bytes.subspan(length + 1);
	}
}

} // namespace

capture_kind feed_capture(capture_reader &reader, std::span<const uint8_t> input)
{
	if (reader.kind == capture_kind::bad || reader.kind == capture_kind::not_capture)
		return reader.kind;
	std::span<const char> bytes(reinterpret_cast<const char *>(input.data()), input.size());
	if (reader.kind == capture_kind::undecided) {
		// Only the beginning decides: anything else is no capture at all.
		// What the decision needs (a header's length, twice over) always
		// fits; the rest of this input follows it as lines.
		const std::size_t kept = std::min(bytes.size(), reader.pending.size() - reader.pending_length);
		std::copy_n(bytes.begin(), kept, reader.pending.begin() + reader.pending_length);
		reader.pending_length += kept;
		bytes = bytes.subspan(kept);
		const std::string_view pending(reader.pending.data(), reader.pending_length);
		const std::string_view magic = capture_magic;
		const std::size_t length = std::min(pending.size(), magic.size());
		if (piece_of(pending, 0, length) != piece_of(magic, 0, length)) {
			reader.kind = capture_kind::not_capture;
			return reader.kind;
		}
		const std::size_t newline = pending.find('\n');
		if (newline == std::string_view::npos) {
			// A header never runs this long.
			if (pending.size() > 2 * magic.size()) {
				reader.line_number = 1;
				return refuse(reader, not_this_version);
			}
			return reader.kind;
		}
		// The header, then the lines after it, from where they lie.
		take_line(reader, piece_of(pending, 0, newline), true);
		const std::size_t rest = newline + 1;
		reader.pending_length = 0;
		take_lines(reader, std::span<const char>(reader.pending.data() + rest, pending.size() - rest));
		if (reader.kind == capture_kind::bad)
			return reader.kind;
		// take_lines kept an unfinished line at the front: pending held it
		// behind the header, and it moved down.
	}
	take_lines(reader, bytes);
	return reader.kind;
}

capture_kind finish_capture(capture_reader &reader)
{
	if (reader.kind == capture_kind::undecided && reader.pending_length == 0 &&
	    reader.line_number == 0)
		return refuse(reader, "empty: no byte at all, and no capture");
	if (reader.kind == capture_kind::undecided || reader.kind == capture_kind::capture) {
		if (reader.pending_length != 0)
			take_line(reader, std::string_view(reader.pending.data(), reader.pending_length), false);
		reader.pending_length = 0;
	}
	return reader.kind;
}

bool read_capture_from(int fd, std::string_view name, capture_taker take, void *context,
		       message_text &error)
{
	// Both in static storage: together they are larger than a stack
	// should be asked to hold.
	static capture_reader reader;
	static std::array<uint8_t, capture_line_limit> buffer;
	reader = {};
	reader.name = name;
	reader.take = take;
	reader.context = context;
	ssize_t got;
	while ((got = read(fd, buffer.data(), buffer.size())) != 0) {
		if (got == -1 && errno == EINTR)
			continue;
		if (got == -1) {
			error = {};
			append(error, name);
			append(error, ": ");
			append(error, strerror(errno));
			return false;
		}
		if (feed_capture(reader, std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(got))) ==
		    capture_kind::bad)
			break;
	}
	if (reader.kind != capture_kind::bad)
		(void)finish_capture(reader);
	if (reader.kind == capture_kind::not_capture) {
		reader.line_number = 1;
		(void)refuse(reader, "not a capture: the first line must be \"ps2link capture 1\"");
	}
	error = reader.error;
	return reader.kind == capture_kind::capture;
}

void write_capture_header(FILE *out, std::string_view source)
{
	fprintf(out, "%s\n# %.*s\n", capture_header, static_cast<int>(source.size()), source.data());
	(void)fflush(out);
}

void write_capture_chunk(FILE *out, long long micros, std::span<const uint8_t> bytes)
{
	for (std::size_t start = 0; start < bytes.size(); start += bytes_per_line) {
		fprintf(out, "%lld.%06lld", micros / 1'000'000, micros % 1'000'000);
		for (std::size_t i = start; i < bytes.size() && i < start + bytes_per_line; ++i)
			fprintf(out, " %02X", bytes[i]);
		fputc('\n', out);
	}
	(void)fflush(out);
}
