// The screen the pointer works on: the touch calibration and the mapped
// framebuffer.
//
// The touch panel reports raw points that the handheld's calibration turns
// into screen positions; the daemon needs the inverse, to report the mouse
// position as a touch. It also draws its own cursor straight into the
// framebuffer that the handheld's software draws into. Both are fetched once
// at start-up; whatever is missing leaves a record that the touch transform
// and the cursor cope with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <linux/fb.h>

inline constexpr std::size_t calibration_count = 7;
inline constexpr int calibration_scale = 1000;

struct calibration_record {
	int valid;                                     // 1 when all seven were read
	std::array<int32_t, calibration_count> values; // a1..a7 as in the file
	std::array<double, calibration_count> scaled;  // a_k / 1000, truncated
};

struct screen_mapping {
	int fd;
	fb_fix_screeninfo fix_info;
	fb_var_screeninfo var_info;
	int32_t page_offset;    // smem_start's offset into its 4096-byte page
	std::size_t map_length; // smem_len + page_offset
	unsigned char *mapping; // first byte of the mapping, null while unmapped
	// Pixel (0, 0) lies page_offset bytes into the mapping, where the screen
	// memory begins. The cursor touches only [limit_start, limit_end).
	unsigned char *pixels;
	unsigned char *limit_start;
	unsigned char *limit_end;
};

extern calibration_record calibration;
extern screen_mapping screen_map;

// The scaled value of one calibration integer: the integer quotient by 1000,
// truncated toward zero, as a double.
[[nodiscard]] double scale_calibration(int32_t value);

// Reads the calibration and maps the framebuffer. Never fails the daemon;
// warnings go to standard error, a failed screen request prints "error".
void setup_screen();
void read_calibration(const char *path);
void map_framebuffer(const char *path);
