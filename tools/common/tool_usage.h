// What every tool says about its command line: which argument is wrong,
// then one line pointing to -h, and status 2; and text from files shown
// to people without passing control bytes to their terminal.
#pragma once

#include <string>
#include <string_view>

// "PROGRAM: WHAT" and "Try 'PROGRAM -h' for more information." on standard
// error, then exit status 2.
[[noreturn]] void refuse_usage(const char *program, const std::string &what);

// What getopt found wrong, for a tool whose option string starts with ":":
// an unknown option, or one without its argument (letter is what getopt
// returned, '?' or ':').
[[nodiscard]] std::string option_problem(int letter, char *const *argv);

// The text with control bytes (but the tab) and bytes from 0x7F on written
// as \xNN, a newline as \n.
[[nodiscard]] std::string printable(std::string_view text);
