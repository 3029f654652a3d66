// Text helpers; see text_file.h.
#include "text_file.h"

int hex_digit_value(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

bool read_hex_pair(char high, char low, uint8_t &value)
{
	int h = hex_digit_value(high);
	int l = hex_digit_value(low);
	if (h < 0 || l < 0)
		return false;
	value = static_cast<uint8_t>(h * 16 + l);
	return true;
}
