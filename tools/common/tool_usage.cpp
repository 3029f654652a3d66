// The tools' command-line complaints.
#include "tool_usage.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>

#include "fixed_text.h"

void refuse_usage(const char *program, std::string_view what)
{
	fprintf(stderr, "%s: %.*s\nTry '%s -h' for more information.\n", program,
		static_cast<int>(what.size()), what.data(), program);
	exit(2);
}

void refuse_option(const char *program, int letter, char *const *argv)
{
	// A long option is named by its word (the last one taken), a letter by
	// optopt: it may stand in a group ("-qz").
	std::string_view word = argv[optind - 1];
	message_text what;
	append(what, letter == ':' ? "option " : "unknown option ");
	if (word.starts_with("--"))
		append(what, piece_of(word, 0, word.find('=')));
	else
		append_format(what, "-%c", static_cast<char>(optopt));
	if (letter == ':')
		append(what, " needs an argument");
	refuse_usage(program, view_of(what));
}
