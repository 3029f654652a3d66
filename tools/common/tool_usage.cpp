// The tools' command-line complaints, and text made safe to print.
#include "tool_usage.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>

void refuse_usage(const char *program, const std::string &what)
{
	fprintf(stderr, "%s: %s\nTry '%s -h' for more information.\n", program, what.c_str(),
		program);
	exit(2);
}

std::string option_problem(int letter, char *const *argv)
{
	// A long option is named by its word (the last one taken), a letter by
	// optopt: it may stand in a group ("-qz").
	std::string word = argv[optind - 1];
	std::string option = word.starts_with("--") ? word.substr(0, word.find('='))
						    : std::string("-") + static_cast<char>(optopt);
	return letter == ':' ? "option " + option + " needs an argument" : "unknown option " + option;
}

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
