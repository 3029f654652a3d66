// Command line of the daemon: option groups such as "-bi" or "-ps DEV SPEED",
// the usage and version texts, and the conversion of the speed argument.
#pragma once

#include <cstdint>

// What the parser decided. Settings named by the letters before the deciding
// one stay in force (the exit clean-up looks at -c).
enum class option_outcome {
	run,          // all arguments accepted
	show_usage,   // -h
	show_version, // -v
	bad_usage,    // a stray word, an unknown letter, a missing argument, -u with -V
};

[[nodiscard]] option_outcome parse_options(int argc, const char *const *argv);

// The text -h prints after its "Usage: NAME [OPTION]" line. Its defaults and
// its spelling are the historical ones, printed as they always were.
inline constexpr char usage_text[] =
	"-p : serial port device name (defalt: /dev/ttyS0)\n"
	"-s : serial port speed (defalt: 9600 bps)\n"
	"-V : vnc keypipe module use\n"
	"-i : debug info print\n"
	"-b : background daemon\n"
	"-v : print version\n"
	"-h : display this message\n"
	"-m : key mapping file name\n"
	"-M : Use mouse\n"
	"-c : console/X mode\n"
	"     default: /opt/Brindle/etc/ser_code_vanto.ini \n";

// What an argument error prints instead.
inline constexpr char usage_hint[] = "-h for more information.\n";

// Both print on standard output and end the process through exit().
[[noreturn]] void print_usage(int status);
[[noreturn]] void print_version();

// The speed argument read as atol reads it (leading blanks, an optional sign,
// decimal digits; anything else gives 0), except that a number outside the
// range of a 32-bit int is held at the nearest end of that range instead of
// overflowing: the daemon's decimal number reader.
[[nodiscard]] int32_t convert_speed(const char *text);
