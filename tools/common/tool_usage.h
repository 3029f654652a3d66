// What every tool says about its command line: which argument is wrong,
// then one line pointing to -h, and status 2.
#pragma once

#include <string_view>

// "PROGRAM: WHAT" and "Try 'PROGRAM -h' for more information." on standard
// error, then exit status 2.
[[noreturn]] void refuse_usage(const char *program, std::string_view what);

// The same for what getopt found wrong, for a tool whose option string
// starts with ":": an unknown option, or one without its argument (letter
// is what getopt returned, '?' or ':').
[[noreturn]] void refuse_option(const char *program, int letter, char *const *argv);
