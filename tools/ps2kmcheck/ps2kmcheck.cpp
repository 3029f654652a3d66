// ps2kmcheck: says what the daemon makes of every line of a key map.
//
// The daemon skips key map lines that fit no form without a word, and
// takes some lines that fit in a way their writer did not mean: "sc" as
// flags is no modifier at all, "SHIFT" is shift and alt, "E0 75" is the
// plain scan code E0, a key code 13 is 0x13. This tool loads the map
// through the daemon's own loader, reports each skipped line with its
// number and the reason, and warns about the lines the loader takes
// without complaint but not as written. With -v it also shows what every
// used line does: under which modifier combination which scan code sends
// which key code.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "checked_output.h"
#include "daemon/startup.h"
#include "keyboard/key_map.h"
#include "output/output_form.h"
#include "keyboard/keyboard_frame.h"
#include "tool_usage.h"

namespace {

// The text with control bytes (but the tab) and bytes from 0x7F on written
// as \xNN, a newline as \n: text from a file shown to people without
// passing control bytes to their terminal.
std::string printable(std::string_view text)
{
	std::string out;
	for (char c : text) {
		auto byte = static_cast<unsigned char>(c);
		if (c == '\n')
			out += "\\n";
		else if ((byte < 0x20 && c != '\t') || byte >= 0x7F) {
			char escaped[8];
			snprintf(escaped, sizeof escaped, "\\x%02X", byte);
			out += escaped;
		} else
			out += c;
	}
	return out;
}

const char usage_text[] =
	"usage: %s [-v] [--warnings-ok] KEYMAP\n"
	"       %s -h\n"
	"Loads KEYMAP as ps2linkd does and reports every line it would skip, and\n"
	"why, and every line it would take otherwise than written.\n"
	"  -v             also show what every used line does\n"
	"  --warnings-ok  exit 0 when there are warnings but no skipped line\n"
	"Exit status: 0 clean, 1 skipped lines or warnings, or the report cannot be\n"
	"written, 2 usage, or a map that cannot be opened or read (or that ps2linkd\n"
	"refuses: anything but a regular file).\n";

// Linux key names by number, from the build machine's kernel headers.
struct linux_key {
	unsigned code;
	const char *name;
};
constexpr linux_key linux_keys[] = {
#include "linux_key_names.inc"
	{~0U, nullptr},
};

const char *linux_key_name(unsigned code)
{
	for (const linux_key &key : linux_keys)
		if (key.code == code)
			return key.name;
	return nullptr;
}

// " (KEY_A)" for a Linux key code, "" for a number that is none.
std::string key_name_suffix(unsigned code)
{
	const char *name = linux_key_name(code);
	return name ? std::string(" (") + name + ")" : std::string();
}

// "SC (shift+ctrl)", or "- (no modifier)".
std::string describe_combination(unsigned combination)
{
	if (combination == 0)
		return "- (no modifier)";
	std::string letters;
	std::string groups;
	for (const flag_letter &flag : flag_letters)
		if (combination & flag.combination) {
			letters += flag.letter;
			groups += (groups.empty() ? "" : "+") + std::string(flag.group);
		}
	return letters + " (" + groups + ")";
}

struct check_state {
	bool verbose = false;
	unsigned skipped = 0;
	unsigned warnings = 0;
	unsigned used = 0;
	unsigned warned_line = 0; // the file line last shown with a warning
	bool warned_continued = false;
	// The file line that last filled each key slot, 0 for none yet.
	std::array<std::array<std::array<unsigned, prefix_index_count>, scan_code_count>,
		   modifier_combinations>
		slot_line{};
};

void print_line(const key_map_line &line, const char *what)
{
	std::string_view text = line.text;
	if (text.ends_with('\n'))
		text.remove_suffix(1);
	printf("%u%s: %s: %s\n", line.number, line.continued ? " (continued)" : "", what,
	       printable(text).c_str());
}

void warn(check_state &state, const key_map_line &line, const std::string &message)
{
	++state.warnings;
	if (state.warned_line != line.number || state.warned_continued != line.continued)
		print_line(line, "warning");
	state.warned_line = line.number;
	state.warned_continued = line.continued;
	printf("    %s\n", message.c_str());
}

// Digits only and 10 or more: a number that reads differently in decimal.
bool looks_decimal(std::string_view word)
{
	if (word.empty() || word.find_first_not_of("0123456789") != std::string_view::npos)
		return false;
	return strtoul(std::string(word).c_str(), nullptr, 10) >= 10;
}

std::string decimal_warning(std::string_view word)
{
	std::string token(word);
	char message[200];
	snprintf(message, sizeof message,
		 "key code %s is read as hexadecimal 0x%s = %lu; write 0x%s if that is meant, or "
		 "0x%02lX for decimal %s",
		 token.c_str(), token.c_str(), strtoul(token.c_str(), nullptr, 16), token.c_str(),
		 strtoul(token.c_str(), nullptr, 10), token.c_str());
	return message;
}

// "E0 75 ...": the E0 read as a plain scan code of its own.
bool spaced_e0(const key_map_line &line)
{
	const char *first = line.word.data();
	const char *second = line.name.data();
	return (strcmp(first, "E0") == 0 || strcmp(first, "e0") == 0) && strlen(second) == 2 &&
	       prefix_index_of(second) == 0;
}

// Flag characters the loader does not count (everything but S, C, F, M;
// a "-" standing alone is the usual way to write none).
std::string ignored_flag_characters(const char *flags)
{
	if (strcmp(flags, "-") == 0)
		return "";
	std::string ignored;
	for (const char *c = flags; *c; ++c)
		if (std::none_of(flag_letters.begin(), flag_letters.end(),
				 [c](const flag_letter &flag) { return flag.letter == *c; }) &&
		    ignored.find(*c) == std::string::npos)
			ignored += *c;
	return ignored;
}

std::string scan_code_text(const key_map_line &line)
{
	char text[8];
	snprintf(text, sizeof text, line.prefix ? "E0 %02X" : "%02X", line.code);
	return text;
}

// "scan code 1C under - (no modifier) sends key code 16 (KEY_Q)".
std::string key_line_effect(const key_map_line &line)
{
	const key_entry &slot = *line.slot;
	std::string does;
	unsigned key_code = slot.value & 0xFF;
	if (slot.value == 0)
		does = "sends nothing";
	else if (is_wrapped_key(slot.value))
		does = "sends key code " + std::to_string(key_code) + key_name_suffix(key_code) +
		       " wrapped in key code 30";
	else
		does = "sends key code " + std::to_string(key_code) + key_name_suffix(key_code);
	for (const lock_key &lock : lock_keys)
		if (slot.name && strcmp(slot.name, lock.name) == 0)
			does += std::string(", and its press switches the ") + lock.light_name + " light";
	return "scan code " + scan_code_text(line) + " under " +
	       describe_combination(line.combination) + " " + does;
}

std::string joystick_line_effect(const key_map_line &line)
{
	unsigned key_code = line.value & 0xFF;
	return "joystick button " + std::to_string(line.button) + " sends key code " +
	       std::to_string(key_code) + key_name_suffix(key_code);
}

std::string modifier_line_effect(const key_map_line &line)
{
	char code[4];
	snprintf(code, sizeof code, "%02X", line.code);
	return std::string("scan code ") + code + ", plain or after E0, holds " +
	       describe_combination(fold_modifiers(line.value));
}

std::string key_repeat_line_effect(const key_map_line &line)
{
	bool first = strcasecmp(line.word.data(), "keyrep_first") == 0;
	return std::string(first ? "keyrep_first" : "keyrep_next") + " is now " +
	       std::to_string(line.value);
}

// What a used line does, in the words of -v.
std::string line_effect(const key_map_line &line)
{
	switch (line.verdict) {
	case key_map_verdict::key: return key_line_effect(line);
	case key_map_verdict::joystick: return joystick_line_effect(line);
	case key_map_verdict::modifier: return modifier_line_effect(line);
	default: return key_repeat_line_effect(line);
	}
}

void check_key_line(check_state &state, const key_map_line &line)
{
	const char *name = line.name.data();
	const char *flags = line.flags.data();
	if (spaced_e0(line))
		warn(state, line,
		     std::string("scan code written \"") + line.word.data() + " " + name +
			     "\": the daemon reads a plain scan code E0 and a key named \"" + name +
			     "\"; write " + line.word.data() + name + ", without a blank");
	if (std::string ignored = ignored_flag_characters(flags); !ignored.empty())
		warn(state, line,
		     std::string("flags \"") + flags + "\" are read as " +
			     describe_combination(line.combination) +
			     ": only upper-case S, C, F and M count (ignored here: " + ignored + ")");
	if (looks_decimal(line.value_word))
		warn(state, line, decimal_warning(line.value_word));
	unsigned &earlier =
		state.slot_line[line.combination][line.code][static_cast<std::size_t>(line.prefix)];
	if (earlier != 0)
		warn(state, line,
		     "scan code " + scan_code_text(line) + " under " +
			     describe_combination(line.combination) + " was filled by line " +
			     std::to_string(earlier) + " already; this line replaces it");
	earlier = line.number;
}

// The loader reads at most key_map_read_limit - 1 characters at once and
// takes the rest of a longer line as a line of its own: a comment or a
// name that runs on may end in a key line.
void check_long_line(check_state &state, const key_map_line &line)
{
	// A rest of blanks alone is a blank line of its own: it changes nothing.
	if (!line.continued || line.verdict == key_map_verdict::blank)
		return;
	std::string_view tail = line.text;
	if (tail.ends_with('\n'))
		tail.remove_suffix(1);
	std::string becomes;
	if (key_map_line_used(line.verdict))
		becomes = "a line of its own: " + line_effect(line);
	else if (line.verdict == key_map_verdict::comment || line.verdict == key_map_verdict::blank)
		becomes = std::string("a line of its own, a ") + describe_key_map_verdict(line.verdict);
	else
		becomes = "a line of its own, skipped";
	warn(state, line,
	     "line " + std::to_string(line.number) + " is longer than " +
		     std::to_string(key_map_read_limit - 1) + " characters: the daemon reads the rest, \"" +
		     printable(tail) + "\", as " + becomes);
}

void report_line(const key_map_line &line, void *context)
{
	auto &state = *static_cast<check_state *>(context);
	check_long_line(state, line);
	key_map_verdict verdict = line.verdict;
	bool quiet = verdict == key_map_verdict::comment || verdict == key_map_verdict::blank;
	if (key_map_line_used(verdict)) {
		++state.used;
		if (state.verbose)
			print_line(line, "used");
		if (verdict == key_map_verdict::key)
			check_key_line(state, line);
		else if (verdict == key_map_verdict::joystick && looks_decimal(line.value_word))
			warn(state, line, decimal_warning(line.value_word));
		if (state.verbose)
			printf("    %s\n", line_effect(line).c_str());
	} else if (!quiet) {
		++state.skipped;
		print_line(line, "skipped");
		printf("    %s\n", describe_key_map_verdict(verdict));
		if (spaced_e0(line))
			printf("    (write %s%s, without a blank: \"%s %s\" is the plain scan code E0)\n",
			       line.word.data(), line.name.data(), line.word.data(), line.name.data());
	}
}

} // namespace

int main(int argc, char **argv)
{
	const char *program = "ps2kmcheck";
	check_standard_output_at_exit(program);
	check_state state;
	bool warnings_ok = false;
	const char *path = nullptr;
	for (int i = 1; i < argc; ++i) {
		if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
			printf(usage_text, program, program);
			return 0;
		}
		if (strcmp(argv[i], "-v") == 0)
			state.verbose = true;
		else if (strcmp(argv[i], "--warnings-ok") == 0)
			warnings_ok = true;
		else if (argv[i][0] == '-' && argv[i][1] != '\0')
			refuse_usage(program, std::string("unknown option ") + argv[i]);
		else if (path)
			refuse_usage(program, std::string("one key map at a time: ") + argv[i] + " is one more");
		else
			path = argv[i];
	}
	if (!path)
		refuse_usage(program, "no key map given");
	// The daemon's own verdict on the file first: what it refuses at start-up
	// is no key map at all.
	if (key_map_file_refused(path)) {
		fprintf(stderr, "%s: cannot read %s: no regular file, which ps2linkd refuses (\"%.*s\")\n",
			program, printable(path).c_str(),
			static_cast<int>(strlen(key_map_missing_message) - 1), key_map_missing_message);
		return 2;
	}
	// The daemon's own reading, on a stream of ours, so that a read error
	// is seen: the loader ends its load on one without a word.
	reset_key_map();
	FILE *map = fopen(path, "r");
	if (!map) {
		fprintf(stderr, "%s: cannot open %s: %s\n", program, printable(path).c_str(),
			strerror(errno));
		return 2;
	}
	(void)load_key_map_stream(map, report_line, &state);
	if (ferror(map)) {
		fprintf(stderr, "%s: cannot read %s: %s\n", program, printable(path).c_str(),
			strerror(errno));
		return 2;
	}
	(void)fclose(map); // read only
	if (state.used == 0) {
		++state.warnings;
		printf("warning: no line is used: the map is empty, and the daemon would "
		       "send no key event\n");
	}
	printf("%s: %u line%s skipped, %u warning%s\n", printable(path).c_str(), state.skipped,
	       state.skipped == 1 ? "" : "s", state.warnings, state.warnings == 1 ? "" : "s");
	if (state.skipped != 0 || (state.warnings != 0 && !warnings_ok))
		return 1;
	return 0;
}
