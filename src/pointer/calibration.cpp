// Reading the calibration file, and the inverse touch transform.
#include "pointer/calibration.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/number_reader.h"
#include "core/settings.h"
#include "core/stop_request.h"
#include "pointer/panel.h"

calibration_record calibration;

void reset_calibration()
{
	calibration = {};
}

double scale_calibration(int32_t value)
{
	return static_cast<double>(value / calibration_scale);
}

namespace {

// A warning with the file's name in place of the daemon's fixed path.
void warn_about_calibration(const char *warning, const char *named)
{
	std::string_view text = warning;
	std::size_t at = text.find(calibration_file);
	if (!named || at == std::string_view::npos) {
		fputs(warning, stderr);
		return;
	}
	// Pointer arithmetic, not substr(): the daemon links no C++ runtime to
	// throw from.
	const char *after = warning + at + strlen(calibration_file);
	fprintf(stderr, "%.*s%s%s", static_cast<int>(at), warning, named, after);
}

} // namespace

void read_calibration(const char *path, const char *named)
{
	calibration.valid = 0;
	// A stop that interrupts the open or the read (a FIFO, a stale network
	// file system) is the stop's to report: no warning of our own then.
	FILE *stream = fopen(path, "r");
	if (!stream) {
		if (!stop_pending())
			warn_about_calibration(calibration_missing_warning, named);
		return;
	}
	// Seven decimal integers, separated by blanks; the first that is not a
	// number ends the reading.
	number_source source{nullptr, stream};
	std::size_t converted = 0;
	while (converted < calibration_count) {
		decimal_number number = read_decimal_number(source);
		if (!number.found)
			break;
		calibration.values[converted++] = number.value;
	}
	for (std::size_t k = 0; k < calibration_count; ++k)
		calibration.scaled[k] = scale_calibration(calibration.values[k]);
	if (converted == calibration_count)
		calibration.valid = 1;
	else if (!stop_pending())
		warn_about_calibration(calibration_format_warning, named);
	(void)fclose(stream);
}

namespace {

// A double that truncates to an int without leaving its range.
bool fits_int(double value)
{
	return std::isfinite(value) && value > static_cast<double>(INT_MIN) - 1.0 &&
	       value < static_cast<double>(INT_MAX) + 1.0;
}

} // namespace

touch_point touch_of_position(int mouse_row, int mouse_column)
{
	const auto &s = calibration.scaled;
	const double s1 = s[0], s3 = s[2], s5 = s[4], s6 = s[5], s7 = s[6];
	// One operation at a time, in this order: the handheld's own touch
	// driver inverts its calibration the same way, and the rounding of each
	// step decides the last unit of the result.
	const touch_point screen_position{mouse_column, mouse_row};
	const double divisor = s5 * s1;
	if (divisor == 0.0)
		return screen_position;
	double tx = static_cast<double>(mouse_column) * s7;
	tx = tx * s5;
	tx = tx - s3 * s5;
	tx = tx / divisor;
	double ty = static_cast<double>(mouse_row) * s7;
	ty = ty * s1;
	ty = ty - s1 * s6;
	ty = ty / divisor;
	if (!fits_int(tx) || !fits_int(ty))
		return screen_position;
	touch_point touch{static_cast<int>(tx), static_cast<int>(ty)};
	// The rotated report carries 480 - x, which must fit an int as well.
	if (active_settings.touch_rotated && static_cast<long long>(screen_columns) - touch.x > INT_MAX)
		return screen_position;
	return touch;
}
