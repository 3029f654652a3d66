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
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "core/number_reader.h"
#include "keyboard/key_map.h"

namespace {

const char usage_text[] =
	"usage: %s [-v] [--warnings-ok] KEYMAP\n"
	"       %s -h\n"
	"Loads KEYMAP as ps2linkd does and reports every line it would skip, and\n"
	"why, and every line it would take otherwise than written.\n"
	"  -v             also show what every used line does\n"
	"  --warnings-ok  exit 0 when there are warnings but no skipped line\n"
	"Exit status: 0 clean, 1 skipped lines or warnings, 2 usage or no file.\n";

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

const std::array<const char *, 4> group_names = {"shift", "ctrl", "alt", "cmd"};

// "SC (shift+ctrl)", or "- (no modifier)".
std::string describe_combination(unsigned combination)
{
	if (combination == 0)
		return "- (no modifier)";
	std::string letters;
	std::string groups;
	for (std::size_t bit = 0; bit < group_names.size(); ++bit)
		if (combination & (1U << bit)) {
			letters += "SCFM"[bit];
			groups += (groups.empty() ? "" : "+") + std::string(group_names[bit]);
		}
	return letters + " (" + groups + ")";
}

struct check_state {
	bool verbose = false;
	unsigned line = 1;       // file line the next piece starts
	bool continues = false;  // the last piece did not end its line
	unsigned skipped = 0;
	unsigned warnings = 0;
	unsigned used = 0;
	unsigned warned_line = 0; // the file line last shown with a warning
	// The file line that last filled each key slot, 0 for none yet.
	std::array<std::array<std::array<unsigned, prefix_index_count>, scan_code_count>,
		   modifier_combinations>
		slot_line{};
};

void print_line(const check_state &state, const char *what, const char *text)
{
	std::size_t length = strlen(text);
	if (length > 0 && text[length - 1] == '\n')
		--length;
	printf("%u%s: %s: %.*s\n", state.line, state.continues ? " (continued)" : "", what,
	       static_cast<int>(length), text);
}

void warn(check_state &state, const char *text, const std::string &message)
{
	++state.warnings;
	if (state.warned_line != state.line)
		print_line(state, "warning", text);
	state.warned_line = state.line;
	printf("    %s\n", message.c_str());
}

// Digits only and 10 or more: a number that reads differently in decimal.
bool looks_decimal(const char *token)
{
	for (const char *c = token; *c; ++c)
		if (*c < '0' || *c > '9')
			return false;
	return *token && strtoul(token, nullptr, 10) >= 10;
}

std::string decimal_warning(const char *token)
{
	char message[200];
	snprintf(message, sizeof message,
		 "key code %s is read as hexadecimal 0x%s = %lu; write 0x%s if that is meant, or "
		 "0x%02lX for decimal %s",
		 token, token, strtoul(token, nullptr, 16), token, strtoul(token, nullptr, 10), token);
	return message;
}

// "E0 75 ...": the E0 read as a plain scan code of its own.
bool spaced_e0(const char *first, const char *second)
{
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
		if (!strchr("SCFM", *c) && ignored.find(*c) == std::string::npos)
			ignored += *c;
	return ignored;
}

void check_key_line(check_state &state, const char *text)
{
	char code_token[key_map_line_buffer];
	char name[key_map_line_buffer];
	char flags[key_map_line_buffer];
	char value_token[key_map_line_buffer];
	if (sscanf(text,
		   "%" KEY_MAP_TOKEN_WIDTH_TEXT "s %" KEY_MAP_TOKEN_WIDTH_TEXT
		   "s %" KEY_MAP_TOKEN_WIDTH_TEXT "s %" KEY_MAP_TOKEN_WIDTH_TEXT "s",
		   code_token, name, flags, value_token) != 4)
		return;
	number_source source{code_token};
	unsigned code = read_hex_number(source).value & 0xFF;
	auto prefix = static_cast<std::size_t>(prefix_index_of(code_token));
	unsigned combination = combination_of_flags(flags);
	const key_entry &slot = key_table[combination][code][prefix];
	char scan_code[8];
	snprintf(scan_code, sizeof scan_code, prefix ? "E0 %02X" : "%02X", code);

	if (spaced_e0(code_token, name))
		warn(state, text,
		     std::string("scan code written \"") + code_token + " " + name +
			     "\": the daemon reads a plain scan code E0 and a key named \"" + name +
			     "\"; write " + code_token + name + ", without a blank");
	if (std::string ignored = ignored_flag_characters(flags); !ignored.empty())
		warn(state, text,
		     std::string("flags \"") + flags + "\" are read as " +
			     describe_combination(combination) +
			     ": only upper-case S, C, F and M count (ignored here: " + ignored + ")");
	if (looks_decimal(value_token))
		warn(state, text, decimal_warning(value_token));
	unsigned &earlier = state.slot_line[combination][code][prefix];
	if (earlier != 0)
		warn(state, text,
		     "scan code " + std::string(scan_code) + " under " +
			     describe_combination(combination) + " was filled by line " +
			     std::to_string(earlier) + " already; this line replaces it");
	earlier = state.line;

	if (!state.verbose)
		return;
	std::string does;
	unsigned key_code = slot.value & 0xFF;
	if (slot.value == 0)
		does = "sends nothing";
	else if (((slot.value >> 8) & 0xFF) == 0x1E)
		does = "sends key code " + std::to_string(key_code) + key_name_suffix(key_code) +
		       " wrapped in key code 30";
	else
		does = "sends key code " + std::to_string(key_code) + key_name_suffix(key_code);
	if (slot.name && (strcmp(slot.name, "NumLock") == 0 || strcmp(slot.name, "Caps") == 0))
		does += std::string(", and its press switches the ") +
			(slot.name[0] == 'N' ? "NumLock" : "Caps Lock") + " light";
	printf("    scan code %s under %s %s\n", scan_code, describe_combination(combination).c_str(),
	       does.c_str());
}

void check_joystick_line(check_state &state, const char *text)
{
	int button = 0;
	char value_token[key_map_line_buffer];
	if (sscanf(text, "%*s %d %*s %" KEY_MAP_TOKEN_WIDTH_TEXT "s", &button, value_token) != 2)
		return;
	if (looks_decimal(value_token))
		warn(state, text, decimal_warning(value_token));
	if (state.verbose) {
		unsigned key_code = static_cast<uint32_t>(joystick_keys[static_cast<std::size_t>(button)]) & 0xFF;
		printf("    joystick button %d sends key code %u%s\n", button, key_code,
		       key_name_suffix(key_code).c_str());
	}
}

void show_modifier_line(const char *text)
{
	int after_name = 0;
	(void)sscanf(text, "%*s%n", &after_name);
	number_source source{text + after_name};
	unsigned code = read_hex_number(source).value;
	unsigned bit = modifier_of_code[code];
	printf("    scan code %02X, plain or after E0, holds %s\n", code,
	       describe_combination((bit | bit >> 4) & 0x0F).c_str());
}

void show_key_repeat_line(const char *text)
{
	char name[key_map_line_buffer];
	if (sscanf(text, "%" KEY_MAP_TOKEN_WIDTH_TEXT "s", name) != 1)
		return;
	bool first = strcasecmp(name, "keyrep_first") == 0;
	printf("    %s is now %u\n", first ? "keyrep_first" : "keyrep_next",
	       first ? keyrep_first : keyrep_next);
}

void report_line(const char *text, key_map_verdict verdict, void *context)
{
	auto &state = *static_cast<check_state *>(context);
	std::size_t length = strlen(text);
	bool ends_line = length > 0 && text[length - 1] == '\n';
	bool quiet = verdict == key_map_verdict::comment || verdict == key_map_verdict::blank;
	if (key_map_line_used(verdict)) {
		++state.used;
		if (state.verbose)
			print_line(state, "used", text);
		if (verdict == key_map_verdict::key)
			check_key_line(state, text);
		else if (verdict == key_map_verdict::joystick)
			check_joystick_line(state, text);
		else if (verdict == key_map_verdict::modifier && state.verbose)
			show_modifier_line(text);
		else if (state.verbose)
			show_key_repeat_line(text);
	} else if (!quiet) {
		++state.skipped;
		print_line(state, "skipped", text);
		printf("    %s\n", describe_key_map_verdict(verdict));
		char first[key_map_line_buffer];
		char second[key_map_line_buffer];
		if (sscanf(text, "%" KEY_MAP_TOKEN_WIDTH_TEXT "s %" KEY_MAP_TOKEN_WIDTH_TEXT "s", first,
			   second) == 2 &&
		    spaced_e0(first, second))
			printf("    (write %s%s, without a blank: \"%s %s\" is the plain scan code E0)\n",
			       first, second, first, second);
	}
	state.continues = !ends_line;
	if (ends_line)
		++state.line;
}

} // namespace

int main(int argc, char **argv)
{
	check_state state;
	bool warnings_ok = false;
	bool bad_usage = false;
	const char *path = nullptr;
	for (int i = 1; i < argc; ++i) {
		if (strcmp(argv[i], "-h") == 0) {
			printf(usage_text, argv[0], argv[0]);
			return 0;
		}
		if (strcmp(argv[i], "-v") == 0)
			state.verbose = true;
		else if (strcmp(argv[i], "--warnings-ok") == 0)
			warnings_ok = true;
		else if (argv[i][0] != '-' && !path)
			path = argv[i];
		else
			bad_usage = true;
	}
	if (!path || bad_usage) {
		fprintf(stderr, usage_text, argv[0], argv[0]);
		return 2;
	}
	struct stat status {};
	if (stat(path, &status) != 0) {
		fprintf(stderr, "%s: cannot open %s\n", argv[0], path);
		return 2;
	}
	if (!S_ISREG(status.st_mode)) {
		// A directory opens, reads nothing and makes an empty map; a pipe
		// would be read once and be gone. Neither is loaded here.
		++state.warnings;
		printf("warning: %s is not a regular file: the daemon would read an empty "
		       "map or whatever the file gives once\n",
		       path);
	} else {
		if (load_key_map(path, report_line, &state) != 0) {
			fprintf(stderr, "%s: cannot open %s\n", argv[0], path);
			return 2;
		}
		if (state.used == 0) {
			++state.warnings;
			printf("warning: no line is used: the map is empty, and the daemon would "
			       "send no key event\n");
		}
	}
	printf("%s: %u line%s skipped, %u warning%s\n", path, state.skipped,
	       state.skipped == 1 ? "" : "s", state.warnings, state.warnings == 1 ? "" : "s");
	if (state.skipped != 0 || (state.warnings != 0 && !warnings_ok))
		return 1;
	return 0;
}
