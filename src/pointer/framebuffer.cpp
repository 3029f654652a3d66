// Mapping the framebuffer; see framebuffer.h.
#include "pointer/framebuffer.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

screen_mapping screen_map;

namespace {
constexpr uint64_t page_mask = 0xFFF;
}

void reset_screen_map()
{
	screen_map = {};
}

void map_framebuffer(const char *path)
{
	int fd = open(path, O_RDWR);
	if (fd == -1)
		return;
	// Both requests must answer for a framebuffer; only the fixed one says
	// what the cursor needs.
	fb_fix_screeninfo fix_info{};
	fb_var_screeninfo var_info{};
	if (ioctl(fd, FBIOGET_FSCREENINFO, &fix_info) == -1 ||
	    ioctl(fd, FBIOGET_VSCREENINFO, &var_info) == -1) {
		fputs(screen_request_failed_message, stdout);
		(void)close(fd);
		return;
	}
	// The device maps whole pages from offset 0, so a screen memory that does
	// not start on a page boundary begins page_offset bytes into the mapping.
	uint64_t smem_start = fix_info.smem_start;
	std::size_t smem_len = fix_info.smem_len;
	const auto page_offset = static_cast<int32_t>(smem_start & page_mask);
	const std::size_t map_length = smem_len + static_cast<std::size_t>(page_offset);
	void *mapped = mmap(nullptr, map_length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
	(void)close(fd);
	if (mapped == MAP_FAILED)
		return;
	attach_screen_memory(static_cast<unsigned char *>(mapped), page_offset, smem_len,
			     fix_info.line_length);
}

void attach_screen_memory(unsigned char *mapping, int32_t page_offset, std::size_t smem_len,
			  uint32_t line_length)
{
	screen_map.pixels = mapping + page_offset;
	screen_map.limit_end = screen_map.pixels + smem_len;
	screen_map.line_length = line_length;
}
