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
std::string quoted(std::string_view word)
{
	constexpr std::size_t longest = 40;
	std::string text = "\"";
	for (std::size_t i = 0; i < word.size() && i < longest; ++i) {
		const auto byte = static_cast<unsigned char>(word[i]);
		char escape[8];
		if (byte < 0x20 || byte == 0x7F || byte == '\\') {
			snprintf(escape, sizeof escape, byte == '\\' ? "\\\\" : "\\x%02X", byte);
			text += escape;
		} else {
			text += static_cast<char>(byte);
		}
	}
	if (word.size() > longest)
		text += "...";
	return text + "\"";
}

} // namespace

capture_line_kind parse_capture_line(std::string_view line, long long previous_micros,
				     capture_chunk &chunk, std::string &error)
{
	if (line.empty() || line[0] == '#')
		return capture_line_kind::nothing;
	if (line.back() == '\r') {
		error = "the line ends in a carriage return: a capture's lines end in a newline alone";
		return capture_line_kind::bad;
	}
	std::size_t blank = line.find(' ');
	std::string_view time = line.substr(0, blank);
	if (!parse_time(time, chunk.micros)) {
		error = "the time " + quoted(time) + " must be seconds with six decimals (0.041877)";
		return capture_line_kind::bad;
	}
	if (chunk.micros < previous_micros) {
		error = "the time goes backwards";
		return capture_line_kind::bad;
	}
	chunk.bytes.clear();
	while (blank != std::string_view::npos) {
		std::size_t start = blank + 1;
		blank = line.find(' ', start);
		std::string_view word = line.substr(start, blank == std::string_view::npos ? blank : blank - start);
		uint8_t byte = 0;
		if (word.empty()) {
			error = "two blanks in a row, or one at the end: bytes are one blank apart";
			return capture_line_kind::bad;
		}
		if (word.size() != 2 || !read_hex_pair(word[0], word[1], byte)) {
			error = "byte " + std::to_string(chunk.bytes.size() + 1) + ", " + quoted(word) +
				", is not two hexadecimal digits";
			return capture_line_kind::bad;
		}
		chunk.bytes.push_back(byte);
	}
	if (chunk.bytes.empty()) {
		error = "a time without bytes";
		return capture_line_kind::bad;
	}
	return capture_line_kind::chunk;
}

namespace {

capture_kind refuse(capture_reader &reader, const std::string &why)
{
	reader.error = reader.name + ":" +
		       (reader.line_number > 0 ? std::to_string(reader.line_number) + ":" : "") + " " +
		       why;
	reader.kind = capture_kind::bad;
	return reader.kind;
}

// The first line, whole or (at the end of the input) cut short.
capture_kind take_header(capture_reader &reader, std::string_view line, bool whole)
{
	const std::string_view header = capture_header;
	if (line == header && whole) {
		reader.kind = capture_kind::capture;
		return reader.kind;
	}
	std::string must = std::string("the first line must be \"") + capture_header + "\"";
	if (line == header)
		return refuse(reader, "the header has no newline after it (" + must + " and a newline)");
	if (line.size() == header.size() + 1 && line.starts_with(header) && line.back() == '\r')
		return refuse(reader, "the header ends in a carriage return: a capture's lines end in "
				      "a newline alone");
	return refuse(reader, "not a capture of this version: " + must);
}

// One whole line (whole: its newline was there).
void take_line(capture_reader &reader, std::string_view line, bool whole,
	       std::vector<capture_chunk> &chunks)
{
	++reader.line_number;
	if (reader.line_number == 1) {
		(void)take_header(reader, line, whole);
		return;
	}
	capture_chunk chunk;
	std::string why;
	switch (parse_capture_line(line, reader.previous_micros, chunk, why)) {
	case capture_line_kind::chunk:
		reader.previous_micros = chunk.micros;
		chunks.push_back(std::move(chunk));
		break;
	case capture_line_kind::nothing: break;
	case capture_line_kind::bad:
		(void)refuse(reader, why + (whole ? "" : " (the last line has no newline: cut short?)"));
	}
}

} // namespace

capture_kind feed_capture(capture_reader &reader, std::span<const uint8_t> bytes,
			  std::vector<capture_chunk> &chunks)
{
	if (reader.kind == capture_kind::bad)
		return reader.kind;
	reader.pending.append(reinterpret_cast<const char *>(bytes.data()), bytes.size());
	if (reader.kind == capture_kind::undecided) {
		// Only the beginning decides: anything else is no capture at all.
		const std::string magic = capture_magic;
		std::size_t length = std::min(reader.pending.size(), magic.size());
		if (reader.pending.compare(0, length, magic, 0, length) != 0) {
			reader.kind = capture_kind::not_capture;
			return reader.kind;
		}
		if (reader.pending.find('\n') == std::string::npos) {
			// A header never runs this long.
			if (reader.pending.size() > 2 * magic.size()) {
				reader.line_number = 1;
				return refuse(reader, std::string("not a capture of this version: the first "
								  "line must be \"") +
							      capture_header + "\"");
			}
			return reader.kind;
		}
	}
	if (reader.kind == capture_kind::not_capture)
		return reader.kind;
	// Each byte is looked at once: the search for the next newline goes on
	// where the last read's search ended, so a line that arrives over many
	// reads costs its length, not its length times the reads.
	std::size_t start = 0;
	std::size_t newline;
	while (reader.kind != capture_kind::bad &&
	       (newline = reader.pending.find('\n', std::max(start, reader.scanned))) != std::string::npos) {
		take_line(reader, std::string_view(reader.pending).substr(start, newline - start), true,
			  chunks);
		start = newline + 1;
	}
	reader.pending.erase(0, start);
	reader.scanned = reader.pending.size();
	return reader.kind;
}

capture_kind finish_capture(capture_reader &reader, std::vector<capture_chunk> &chunks)
{
	if (reader.kind == capture_kind::undecided && reader.pending.empty() &&
	    reader.line_number == 0)
		return refuse(reader, "empty: no byte at all, and no capture");
	if (reader.kind == capture_kind::undecided || reader.kind == capture_kind::capture) {
		if (!reader.pending.empty())
			take_line(reader, reader.pending, false, chunks);
		reader.pending.clear();
	}
	return reader.kind;
}

bool read_capture_from(int fd, const std::string &name, std::vector<capture_chunk> &chunks,
		       capture_taker take, std::string &error)
{
	capture_reader reader;
	reader.name = name;
	std::array<uint8_t, 65536> buffer;
	ssize_t got;
	while ((got = read(fd, buffer.data(), buffer.size())) != 0) {
		if (got == -1 && errno == EINTR)
			continue;
		if (got == -1) {
			error = name + ": " + strerror(errno);
			return false;
		}
		if (feed_capture(reader, std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(got)),
				 chunks) == capture_kind::bad)
			break;
		if (take)
			take(chunks);
	}
	if (reader.kind != capture_kind::bad)
		(void)finish_capture(reader, chunks);
	if (reader.kind == capture_kind::not_capture) {
		reader.line_number = 1;
		(void)refuse(reader, std::string("not a capture: the first line must be \"") +
					     capture_header + "\"");
	}
	if (reader.kind == capture_kind::capture && take)
		take(chunks);
	error = reader.error;
	return reader.kind == capture_kind::capture;
}

void write_capture_header(FILE *out, const std::string &source)
{
	fprintf(out, "%s\n# %s\n", capture_header, source.c_str());
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
