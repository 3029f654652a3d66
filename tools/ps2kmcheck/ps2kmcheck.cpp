// ps2kmcheck: says what the daemon makes of every line of a key map.
//
// The daemon skips key map lines that fit no form without a word, so a
// typo (a lower-case flag, a missing key code, "0x" on a scan code) just
// makes a key go dead. This tool loads the map through the daemon's own
// loader and reports each skipped line with its number and the reason;
// with -v it lists the lines that were used as well.
#include <cstdio>
#include <cstring>

#include "keyboard/key_map.h"

namespace {

struct check_state {
	bool verbose = false;
	unsigned piece = 0;       // line pieces seen so far
	unsigned line = 1;        // file line the next piece starts
	unsigned skipped = 0;
	bool continues = false;   // the last piece did not end its line
};

void report_line(const char *text, key_map_verdict verdict, void *context)
{
	auto &state = *static_cast<check_state *>(context);
	++state.piece;
	std::size_t length = strlen(text);
	bool ends_line = length > 0 && text[length - 1] == '\n';
	bool quiet = verdict == key_map_verdict::comment || verdict == key_map_verdict::blank;
	if (!key_map_line_used(verdict) && !quiet)
		++state.skipped;
	if ((!key_map_line_used(verdict) && !quiet) || (state.verbose && !quiet)) {
		printf("%u%s: %s: %.*s\n", state.line, state.continues ? " (continued)" : "",
		       key_map_line_used(verdict) ? "used" : "skipped",
		       static_cast<int>(ends_line ? length - 1 : length), text);
		printf("    %s\n", describe_key_map_verdict(verdict));
	}
	state.continues = !ends_line;
	if (ends_line)
		++state.line;
}

} // namespace

int main(int argc, char **argv)
{
	check_state state;
	int first = 1;
	if (argc > 1 && strcmp(argv[1], "-v") == 0) {
		state.verbose = true;
		first = 2;
	}
	if (argc != first + 1) {
		fprintf(stderr, "usage: %s [-v] KEYMAP\n"
				"Reports every key map line the daemon would skip, and why.\n",
			argv[0]);
		return 2;
	}
	if (load_key_map(argv[first], report_line, &state) != 0) {
		fprintf(stderr, "%s: cannot open %s\n", argv[0], argv[first]);
		return 2;
	}
	printf("%s: %u line%s skipped\n", argv[first], state.skipped, state.skipped == 1 ? "" : "s");
	return state.skipped == 0 ? 0 : 1;
}
