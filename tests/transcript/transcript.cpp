// Reading, checking, comparing and rewriting transcripts; see transcript.h
// for the format. Nothing here runs the daemon: the in-process runner and
// the end-to-end replay each feed the input their own way and hand back what
// the devices received.
#include "transcript.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "serial/frame_reader.h"
#include "sim_script.h"

namespace {

enum class section : uint8_t { header, key_map, pointercal, input, output };

constexpr std::size_t hex_bytes_per_line = 16;

std::string at_line(const std::string &path, std::size_t index, const std::string &reason)
{
	return path + ":" + std::to_string(index + 1) + ": " + reason;
}

bool read_lines(const std::string &path, std::vector<std::string> &lines)
{
	FILE *file = fopen(path.c_str(), "r");
	if (!file)
		return false;
	std::string line;
	int c;
	while ((c = fgetc(file)) != EOF) {
		if (c == '\n') {
			lines.push_back(line);
			line.clear();
		} else {
			line += static_cast<char>(c);
		}
	}
	if (!line.empty())
		lines.push_back(line);
	fclose(file);
	return true;
}

std::vector<std::string> split_words(const std::string &text)
{
	std::vector<std::string> words;
	std::size_t at = 0;
	while (at < text.size()) {
		at = text.find_first_not_of(" \t", at);
		if (at == std::string::npos)
			break;
		std::size_t end = text.find_first_of(" \t", at);
		words.push_back(text.substr(at, end - at));
		at = end;
	}
	return words;
}

bool blank(const std::string &line)
{
	return line.find_first_not_of(" \t\r") == std::string::npos;
}

bool hex_byte(const std::string &word, uint8_t &value)
{
	return word.size() == 2 && read_hex_pair(word[0], word[1], value);
}

// One line of a text section back to its bytes.
bool unescape_text_line(const std::string &line, std::string &bytes)
{
	bool newline = !line.empty() && line.back() == '$';
	std::size_t end = newline ? line.size() - 1 : line.size();
	for (std::size_t i = 0; i < end; ++i) {
		if (line[i] != '\\') {
			bytes += line[i];
			continue;
		}
		if (i + 3 >= end || line[i + 1] != 'x')
			return false;
		uint8_t value = 0;
		if (!hex_byte(line.substr(i + 2, 2), value))
			return false;
		bytes += static_cast<char>(value);
		i += 3;
	}
	if (newline)
		bytes += '\n';
	return true;
}

std::string escape_text(const std::string &bytes)
{
	std::string text;
	for (char c : bytes) {
		auto byte = static_cast<unsigned char>(c);
		if (byte < 0x20 || byte > 0x7E || c == '$' || c == '\\') {
			char piece[5];
			snprintf(piece, sizeof piece, "\\x%02X", byte);
			text += piece;
		} else {
			text += c;
		}
	}
	return text;
}

std::string hex_line(const std::string &bytes, std::size_t from, std::size_t to)
{
	std::string text;
	char piece[4];
	for (std::size_t i = from; i < to; ++i) {
		snprintf(piece, sizeof piece, i == from ? "%02X" : " %02X",
			 static_cast<unsigned char>(bytes[i]));
		text += piece;
	}
	return text;
}

// "frame K 01 1C 00 00": a frame with its checksum, for the payloads the
// script's key, joy and mouse lines never make.
bool frame_line(const std::vector<std::string> &words, std::vector<uint8_t> &bytes,
		std::string &error)
{
	uint8_t header = 0;
	if (words.size() != 6) {
		error = "frame takes a header and four payload bytes";
		return false;
	}
	const std::string &letter = words[1];
	if (letter == "K" || letter == "M" || letter == "J")
		header = static_cast<uint8_t>(letter[0]);
	else if (!hex_byte(letter, header)) {
		error = "frame header is K, M, J or a hex byte";
		return false;
	}
	uint8_t payload[4];
	for (std::size_t i = 0; i < 4; ++i)
		if (!hex_byte(words[2 + i], payload[i])) {
			error = "frame payload bytes are two hex digits each";
			return false;
		}
	serial_frame frame = make_frame(header, payload[0], payload[1], payload[2], payload[3]);
	bytes.assign(frame.begin(), frame.end());
	return true;
}

bool input_line(const std::string &line, std::vector<uint8_t> &bytes, std::string &error)
{
	std::vector<std::string> words = split_words(line);
	if (!words.empty() && words[0] == "frame")
		return frame_line(words, bytes, error);
	script_player player;
	player.send = [](std::span<const uint8_t> sent, std::string_view, void *context) {
		auto *taken = static_cast<std::vector<uint8_t> *>(context);
		taken->insert(taken->end(), sent.begin(), sent.end());
	};
	player.context = &bytes; // no pause: the replay waits on the daemon, never on a clock
	script_error result = run_script_line(player, line);
	error = view_of(result.message);
	return !result.failed;
}

bool check_options(const std::vector<std::string> &options, std::string &error)
{
	// The others choose paths, the line speed, detaching or messages: what
	// start-up does, not what the daemon makes of its input.
	for (const std::string &word : options) {
		if (word.size() < 2 || word[0] != '-' ||
		    word.find_first_not_of("MVxc", 1) != std::string::npos) {
			error = "options: only -M, -V, -x and -c belong in a transcript, not " + word;
			return false;
		}
	}
	return true;
}

int device_of(const std::string &name)
{
	for (std::size_t d = 0; d < transcript_device_count; ++d)
		if (name == transcript_device_names[d])
			return static_cast<int>(d);
	return -1;
}

// Opens the section named by a "[...]" line. False for an unknown name.
bool open_section(const std::string &name, const std::string &source_root, transcript &t,
		  section &current, int &device, std::string &error)
{
	const std::string map_file = "key map:";
	if (name == "key map") {
		current = section::key_map;
	} else if (name.compare(0, map_file.size(), map_file) == 0) {
		std::vector<std::string> words = split_words(name.substr(map_file.size()));
		if (words.size() != 1 || !read_whole_file((source_root + "/" + words[0]).c_str(), t.key_map)) {
			error = "cannot read the key map " + name.substr(map_file.size());
			return false;
		}
		current = section::header; // nothing may follow the file's name
	} else if (name == "pointercal") {
		current = section::pointercal;
		t.pointercal = "";
	} else if (name == "input") {
		current = section::input;
	} else if ((device = device_of(name)) >= 0) {
		current = section::output;
	} else {
		error = "unknown section [" + name + "]";
		return false;
	}
	return true;
}

bool add_output_line(transcript &t, std::size_t device, const std::string &line, std::string &error)
{
	t.expected_lines[device].push_back(line);
	if (!device_in_hex(device)) {
		if (!unescape_text_line(line, t.expected[device])) {
			error = "a \\ in a text line starts \\xHH";
			return false;
		}
		return true;
	}
	std::string normal;
	for (const std::string &word : split_words(line)) {
		uint8_t value = 0;
		if (!hex_byte(word, value)) {
			error = "hex bytes are two digits each, not " + word;
			return false;
		}
		t.expected[device] += static_cast<char>(value);
	}
	return true;
}

bool parse_line(transcript &t, std::size_t index, const std::string &source_root,
		section &current, int &device, std::array<bool, transcript_device_count> &seen,
		std::string &error)
{
	const std::string &line = t.lines[index];
	if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
		std::string name = line.substr(1, line.size() - 2);
		if (!open_section(name, source_root, t, current, device, error))
			return false;
		if (current == section::output) {
			if (seen[static_cast<std::size_t>(device)]) {
				error = "a second [" + name + "] section";
				return false;
			}
			seen[static_cast<std::size_t>(device)] = true;
			t.output_line[index] = true;
		}
		return true;
	}
	if (current == section::output)
		t.output_line[index] = true;
	if (blank(line))
		return true;
	switch (current) {
	case section::header:
		if (line[0] == '#')
			return true;
		if (line.compare(0, 8, "options:") == 0) {
			t.options = split_words(line.substr(8));
			return check_options(t.options, error);
		}
		error = "expected a comment, an options: line or a [section]";
		return false;
	case section::key_map:
		t.key_map += line + "\n";
		return true;
	case section::pointercal:
		*t.pointercal += line + "\n";
		return true;
	case section::input: {
		transcript_input in;
		in.line_number = static_cast<int>(index + 1);
		if (!input_line(line, in.bytes, error))
			return false;
		t.input.push_back(std::move(in));
		return true;
	}
	case section::output:
		return add_output_line(t, static_cast<std::size_t>(device), line, error);
	}
	return false;
}

// Rows of a side-by-side table; a mark between the columns where they differ.
std::string side_by_side(const std::vector<std::string> &left, const std::vector<std::string> &right)
{
	std::size_t width = strlen("expected");
	for (const std::string &line : left)
		width = std::max(width, line.size());
	std::string table;
	auto row = [&table, width](const std::string &a, const char *mark, const std::string &b) {
		table += "  " + a + std::string(width - a.size(), ' ') + mark + b + "\n";
	};
	row("expected", "   ", "actual");
	for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
		const std::string a = i < left.size() ? left[i] : "";
		const std::string b = i < right.size() ? right[i] : "";
		row(a, a == b ? " | " : " ! ", b);
	}
	return table;
}

} // namespace

bool device_in_hex(std::size_t device)
{
	return device == static_cast<std::size_t>(transcript_device::keypipe) ||
	       device == static_cast<std::size_t>(transcript_device::adapter);
}

bool read_transcript(const std::string &path, const std::string &source_root, transcript &t,
		     std::string &error)
{
	t = transcript{};
	t.path = path;
	if (!read_lines(path, t.lines)) {
		error = path + ": cannot read";
		return false;
	}
	t.output_line.assign(t.lines.size(), false);
	section current = section::header;
	int device = -1;
	std::array<bool, transcript_device_count> seen{};
	for (std::size_t i = 0; i < t.lines.size(); ++i) {
		std::string reason;
		if (!parse_line(t, i, source_root, current, device, seen, reason)) {
			error = at_line(path, i, reason);
			return false;
		}
	}
	return true;
}

std::vector<uint8_t> all_input(const transcript &t)
{
	std::vector<uint8_t> bytes;
	for (const transcript_input &in : t.input)
		bytes.insert(bytes.end(), in.bytes.begin(), in.bytes.end());
	return bytes;
}

std::vector<std::string> format_device(std::size_t device, const std::string &bytes,
				       const std::vector<std::size_t> &breaks)
{
	std::vector<std::string> lines;
	if (!device_in_hex(device)) {
		std::size_t at = 0;
		while (at < bytes.size()) {
			std::size_t end = bytes.find('\n', at);
			if (end == std::string::npos) {
				lines.push_back(escape_text(bytes.substr(at)));
				break;
			}
			lines.push_back(escape_text(bytes.substr(at, end - at)) + "$");
			at = end + 1;
		}
		return lines;
	}
	std::vector<std::size_t> ends = breaks;
	ends.push_back(bytes.size());
	std::size_t from = 0;
	for (std::size_t end : ends) {
		end = std::min(end, bytes.size());
		for (; from < end; from = std::min(end, from + hex_bytes_per_line))
			lines.push_back(hex_line(bytes, from, std::min(end, from + hex_bytes_per_line)));
	}
	return lines;
}

std::string compare_transcript(const transcript &t, const transcript_result &result)
{
	std::string report;
	for (std::size_t d = 0; d < transcript_device_count; ++d) {
		if (t.expected[d] == result.received[d])
			continue;
		report += std::string("[") + transcript_device_names[d] + "] differs:\n";
		std::vector<std::string> expected = t.expected_lines[d];
		if (device_in_hex(d)) {
			// As written, but in one spelling, so that only real
			// differences are marked.
			expected.clear();
			std::size_t at = 0;
			for (const std::string &line : t.expected_lines[d]) {
				std::size_t count = split_words(line).size();
				expected.push_back(hex_line(t.expected[d], at, at + count));
				at += count;
			}
		}
		report += side_by_side(expected, format_device(d, result.received[d], result.breaks[d]));
	}
	return report;
}

std::string rewrite_transcript(const transcript &t, const transcript_result &result)
{
	std::vector<std::string> kept;
	for (std::size_t i = 0; i < t.lines.size(); ++i)
		if (!t.output_line[i])
			kept.push_back(t.lines[i]);
	while (!kept.empty() && blank(kept.back()))
		kept.pop_back();
	std::string text;
	for (const std::string &line : kept)
		text += line + "\n";
	for (std::size_t d = 0; d < transcript_device_count; ++d) {
		if (result.received[d].empty())
			continue;
		text += std::string("\n[") + transcript_device_names[d] + "]\n";
		for (const std::string &line : format_device(d, result.received[d], result.breaks[d]))
			text += line + "\n";
	}
	return text;
}
