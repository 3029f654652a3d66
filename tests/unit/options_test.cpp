// The command line as the option parser reads it, the speed conversion and
// the choice of line speed. What each outcome prints and its exit status are
// the end-to-end tests' (tests/e2e/spine_test.cpp); every parsing variant is here.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <termios.h>
#include <vector>

#include "core/settings.h"
#include "daemon_state.h"

#include "daemon/options.h"
#include "serial/serial_line.h"

namespace {

TEST(options, parse_outcomes_table)
{
	using O = option_outcome;
	const struct {
		const char *legend;
		std::vector<std::string> arguments; // after the program name
		option_outcome outcome;
		const char *device; // -p as it ends up
		int32_t speed;      // -s as it ends up
	} rows[] = {
		{"-h", {"-h"}, O::show_usage, default_serial_device, 9600},
		{"-v", {"-v"}, O::show_version, default_serial_device, 9600},
		{"-vh: the version only", {"-vh"}, O::show_version, default_serial_device, 9600},
		{"-hv: the usage text only", {"-hv"}, O::show_usage, default_serial_device, 9600},
		{"-hq: parsing ends at h", {"-hq"}, O::show_usage, default_serial_device, 9600},
		{"-x is an option the usage text leaves out", {"-x", "-h"}, O::show_usage,
		 default_serial_device, 9600},
		{"a dash alone is accepted and changes nothing", {"-", "-v"}, O::show_version,
		 default_serial_device, 9600},
		{"--", {"--"}, O::bad_usage, default_serial_device, 9600},
		{"-a", {"-a"}, O::bad_usage, default_serial_device, 9600},
		{"letters are case-sensitive", {"-H"}, O::bad_usage, default_serial_device, 9600},
		{"a stray word", {"ttyS0"}, O::bad_usage, default_serial_device, 9600},
		{"a stray word after good options", {"-i", "ttyS0", "-h"}, O::bad_usage,
		 default_serial_device, 9600},
		{"an empty argument", {""}, O::bad_usage, default_serial_device, 9600},
		{"-i -q", {"-i", "-q"}, O::bad_usage, default_serial_device, 9600},
		{"-q -h: parsing stops at the first error", {"-q", "-h"}, O::bad_usage,
		 default_serial_device, 9600},
		{"-qh", {"-qh"}, O::bad_usage, default_serial_device, 9600},
		{"-p last", {"-i", "-p"}, O::bad_usage, default_serial_device, 9600},
		{"-s last", {"-s"}, O::bad_usage, default_serial_device, 9600},
		{"-m last", {"-m"}, O::bad_usage, default_serial_device, 9600},
		{"-ps with one argument left", {"-ps", "/dev/ttyS0"}, O::bad_usage, "/dev/ttyS0", 9600},
		{"input devices and the key-injection device at once", {"-uV"}, O::bad_usage,
		 default_serial_device, 9600},
		{"-p takes the next argument even when it begins with a dash", {"-p", "-h"}, O::run,
		 "-h", 9600},
		{"-s negative: the dash argument is the speed", {"-s", "-57600"}, O::run,
		 default_serial_device, -57600},
		{"the last -s wins", {"-s", "19200", "-s", "57600"}, O::run, default_serial_device,
		 57600},
		{"-ps takes the device, then the speed; a dash alone changes nothing",
		 {"-", "-ps", "/dev/ttyS0", "57600", "-"}, O::run, "/dev/ttyS0", 57600},
	};
	for (const auto &r : rows) {
		SCOPED_TRACE(r.legend);
		reset_daemon_state();
		std::vector<std::string> words = {"ps2linkd"};
		words.insert(words.end(), r.arguments.begin(), r.arguments.end());
		std::vector<char *> argv;
		for (std::string &word : words)
			argv.push_back(word.data());
		argv.push_back(nullptr);
		EXPECT_EQ(parse_options(static_cast<int>(words.size()), argv.data()), r.outcome);
		EXPECT_STREQ(active_settings.serial_device, r.device);
		EXPECT_EQ(active_settings.serial_speed, r.speed);
	}
	reset_daemon_state();
}

TEST(options, convert_speed_reads_like_atol)
{
	struct {
		const char *text;
		int32_t speed;
	} const cases[] = {
		{"57600", 57600},   {"  \t38400", 38400}, {"+19200", 19200}, {"-5", -5},
		{"19200baud", 19200}, {"fast", 0},        {"", 0},           {"- 1", 0},
		{"2147483647", INT32_MAX}, {"2147483648", INT32_MAX},
		{"99999999999999999999999", INT32_MAX}, {"-2147483648", INT32_MIN},
		{"-99999999999999999999999", INT32_MIN}, {"4294986496", INT32_MAX},
		{"38400bps", 38400}, {"-57600", -57600},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.text);
		EXPECT_EQ(convert_speed(c.text), c.speed);
	}
}

TEST(options, only_three_speeds_leave_9600)
{
	EXPECT_EQ(speed_constant(19200), unsigned{B19200});
	EXPECT_EQ(speed_constant(38400), unsigned{B38400});
	EXPECT_EQ(speed_constant(57600), unsigned{B57600});
	for (int32_t other : {9600, 0, -19200, 115200, 4800, INT32_MAX, INT32_MIN})
		EXPECT_EQ(speed_constant(other), unsigned{B9600}) << other;
}

} // namespace
