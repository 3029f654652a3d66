// Reading and writing captures; the format is described in capture.h.
#include "capture.h"

#include <cerrno>
#include <cstring>

#include "text_file.h"

namespace {

constexpr std::size_t bytes_per_line = 16;

// "S.UUUUUU": whole seconds, a point and exactly six digits.
bool parse_time(const std::string &word, long long &micros)
{
	std::size_t point = word.find('.');
	if (point == std::string::npos || point == 0 || point > 9 || word.size() != point + 7)
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

} // namespace

capture_line_kind parse_capture_line(const std::string &line, long long previous_micros,
				     capture_chunk &chunk, std::string &error)
{
	if (line.empty() || line[0] == '#')
		return capture_line_kind::nothing;
	std::size_t blank = line.find(' ');
	if (blank == std::string::npos || !parse_time(line.substr(0, blank), chunk.micros)) {
		error = "a line must begin with the time in seconds, six decimals (0.041877)";
		return capture_line_kind::bad;
	}
	if (chunk.micros < previous_micros) {
		error = "the time goes backwards";
		return capture_line_kind::bad;
	}
	chunk.bytes.clear();
	std::size_t i = blank;
	while (i < line.size()) {
		uint8_t byte = 0;
		if (line[i] != ' ' || i + 2 >= line.size() ||
		    !read_hex_pair(line[i + 1], line[i + 2], byte) ||
		    (i + 3 < line.size() && line[i + 3] != ' ')) {
			error = "bytes are two hexadecimal digits each, one blank apart";
			return capture_line_kind::bad;
		}
		chunk.bytes.push_back(byte);
		i += 3;
	}
	if (chunk.bytes.empty()) {
		error = "a time without bytes";
		return capture_line_kind::bad;
	}
	return capture_line_kind::chunk;
}

bool read_capture(const char *path, std::vector<capture_chunk> &chunks, std::string &error)
{
	bool from_stdin = strcmp(path, "-") == 0;
	FILE *in = from_stdin ? stdin : fopen(path, "r");
	if (!in) {
		error = std::string(path) + ": " + strerror(errno);
		return false;
	}
	std::string line;
	int number = 0;
	bool ok = true;
	int c = 0;
	while (ok && c != EOF) {
		line.clear();
		while ((c = fgetc(in)) != EOF && c != '\n')
			line.push_back(static_cast<char>(c));
		if (c == EOF && line.empty())
			break;
		++number;
		std::string why;
		if (number == 1) {
			if (line != capture_header)
				why = std::string("not a capture: the first line must be \"") +
				      capture_header + "\"";
		} else {
			capture_chunk chunk;
			long long previous = chunks.empty() ? 0 : chunks.back().micros;
			if (parse_capture_line(line, previous, chunk, why) == capture_line_kind::chunk)
				chunks.push_back(std::move(chunk));
		}
		if (!why.empty()) {
			error = std::string(path) + ":" + std::to_string(number) + ": " + why;
			ok = false;
		}
	}
	if (ok && number == 0) {
		error = std::string(path) + ": empty, not a capture";
		ok = false;
	}
	if (!from_stdin)
		(void)fclose(in); // read only
	return ok;
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
