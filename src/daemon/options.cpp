// Command-line parsing.
//
// Each argument is a group of option letters after one "-". Letters that take
// an argument (-m, -p, -s) consume the following arguments in turn, so
// "-ps /dev/ttyS0 38400" sets the device and then the speed. The first error,
// -h or -v ends parsing at once; what earlier letters set stays in force.
#include "daemon/options.h"

#include <cstdio>
#include <cstdlib>

#include "core/number_reader.h"
#include "core/settings.h"

namespace {

// Sets the flag or the text setting of one letter. Returns false for a letter
// that is no option.
bool apply_letter(char letter, const char *argument)
{
	switch (letter) {
	case 'M': active_settings.mouse_enabled = true; return true;
	case 'V': active_settings.use_keypipe = true; return true;
	case 'u': active_settings.use_uinput = true; return true;
	case 'b': active_settings.run_in_background = true; return true;
	case 'c': active_settings.console_mode = true; return true;
	case 'i': active_settings.debug_enabled = true; return true;
	case 'x': active_settings.touch_rotated = true; return true;
	case 'm': active_settings.key_map_name = argument; return true;
	case 'p': active_settings.serial_device = argument; return true;
	case 's': active_settings.serial_speed = convert_speed(argument); return true;
	default: return false;
	}
}

bool takes_argument(char letter)
{
	return letter == 'm' || letter == 'p' || letter == 's';
}

} // namespace

option_outcome parse_options(int argc, const char *const *argv)
{
	int next_free = 1; // first argument that no letter has taken yet
	while (next_free < argc) {
		const char *group = argv[next_free++];
		if (group[0] != '-')
			return option_outcome::bad_usage;
		for (const char *letter = group + 1; *letter; ++letter) {
			if (*letter == 'h')
				return option_outcome::show_usage;
			if (*letter == 'v')
				return option_outcome::show_version;
			const char *argument = nullptr;
			if (takes_argument(*letter)) {
				if (next_free >= argc)
					return option_outcome::bad_usage;
				argument = argv[next_free++];
			}
			if (!apply_letter(*letter, argument))
				return option_outcome::bad_usage;
		}
	}
	// Input devices and the key-injection device are two ways out for the
	// same keys: asking for both is a mistake on the command line.
	if (active_settings.use_uinput && active_settings.use_keypipe)
		return option_outcome::bad_usage;
	return option_outcome::run;
}

void print_usage(int status)
{
	if (status == 0) {
		printf("Usage: %s [OPTION]\n", active_settings.program_name);
		fputs(usage_text, stdout);
	} else {
		fputs(usage_hint, stdout);
	}
	exit(status);
}

void print_version()
{
	printf("%s version %s\n", active_settings.program_name, program_version);
	exit(0);
}

int32_t convert_speed(const char *text)
{
	// The key map's and the calibration's decimal reader: blanks, a sign,
	// digits, held at the ends of the 32-bit range; no number reads as 0.
	number_source source{text, nullptr};
	decimal_number speed = read_decimal_number(source);
	return speed.found ? speed.value : 0;
}
