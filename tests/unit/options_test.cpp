// The speed conversion and the choice of line speed.
#include <gtest/gtest.h>

#include <climits>
#include <termios.h>

#include "daemon/options.h"
#include "serial/serial_line.h"

namespace {

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
