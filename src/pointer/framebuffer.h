// The mapped framebuffer the cursor is drawn into.
//
// The handheld's software draws into the same screen memory; the daemon maps
// it once at start-up and draws its own cursor straight into it. A screen
// that cannot be opened, asked about or mapped leaves the mapping empty, and
// the cursor then draws nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <linux/fb.h>

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

extern screen_mapping screen_map;

// Printed, without a newline, when the device refuses a screen request.
inline constexpr char screen_request_failed_message[] = "error";

// Forgets the mapping (without unmapping it): the state before start-up.
void reset_screen_map();

// Points the record at screen memory: mapping is the first byte mapped, the
// screen's pixel (0, 0) lies page_offset bytes in, and smem_len bytes of
// screen memory follow it; fix_info.line_length says how long a row is. This
// is the state a successful map_framebuffer leaves, and the way the tests,
// the fuzz targets and the benchmarks lend the cursor memory of their own.
void attach_screen_memory(unsigned char *mapping, int32_t page_offset, std::size_t smem_len);

// Maps the framebuffer. A failed screen request prints "error".
void map_framebuffer(const char *path);
