// The touch calibration and its inverse.
//
// The touch panel reports raw points that the handheld's calibration (seven
// integers in /etc/pointercal, written by its calibration program) turns
// into screen positions. The daemon needs the inverse, to report the mouse
// position as the touch that lands there. The file is read once at start-up;
// a missing or malformed one leaves a record that the transform copes with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t calibration_count = 7;
inline constexpr int calibration_scale = 1000;

struct calibration_record {
	// 1 when all seven were read. The daemon never reads it: a record left
	// incomplete has scaled values the transform copes with. ps2keys reads
	// it, to say whether a calibration was found.
	int valid = 0;
	std::array<int32_t, calibration_count> values{}; // a1..a7 as in the file
	std::array<double, calibration_count> scaled{};  // a_k / 1000, truncated
};

extern calibration_record calibration;

// The two warnings of the calibration reader, on standard error, as the
// daemon prints them; a tool that reads another file has its path in
// place of /etc/pointercal.
inline constexpr char calibration_missing_warning[] = "Warning: cannot open /etc/pointercal.\n";
inline constexpr char calibration_format_warning[] =
	"Warning: /etc/pointercal is unknown format.\n";

// Back to the state before start-up: nothing read.
void reset_calibration();

// The scaled value of one calibration integer: the integer quotient by 1000,
// truncated toward zero, as a double.
[[nodiscard]] double scale_calibration(int32_t value);

// Reads the seven integers. Never fails the daemon: a file that cannot be
// opened or read whole gets a warning on standard error, which names the
// file as named (the daemon's fixed path unless a tool says otherwise).
void read_calibration(const char *path, const char *named = nullptr);

struct touch_point {
	int x;
	int y;
};

// The panel point whose calibrated screen position is column mouse_column,
// row mouse_row. Without a usable calibration (no divisor, a result that is
// not finite or does not fit an int, also once rotated) it is the screen
// position itself.
[[nodiscard]] touch_point touch_of_position(int mouse_row, int mouse_column);
