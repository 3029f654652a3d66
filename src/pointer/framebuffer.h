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

// The screen memory as the cursor uses it once start-up has mapped it. The
// cursor touches only [pixels, limit_end).
struct screen_mapping {
	unsigned char *pixels = nullptr;    // pixel (0, 0); null while unmapped
	unsigned char *limit_end = nullptr; // one past the last byte of screen memory
	uint32_t line_length = 0;           // bytes from one row to the next
};

extern screen_mapping screen_map;

// Printed, without a newline, when the device refuses a screen request.
inline constexpr char screen_request_failed_message[] = "error";

// Forgets the mapping (without unmapping it): the state before start-up.
void reset_screen_map();

// Points the record at screen memory: mapping is the first byte mapped, the
// screen's pixel (0, 0) lies page_offset bytes in, smem_len bytes of screen
// memory follow it, and a row is line_length bytes long. This
// is the state a successful map_framebuffer leaves, and the way the tests,
// the fuzz targets and the benchmarks lend the cursor memory of their own.
void attach_screen_memory(unsigned char *mapping, int32_t page_offset, std::size_t smem_len,
			  uint32_t line_length);

// Maps the framebuffer. A failed screen request prints "error".
void map_framebuffer(const char *path);
