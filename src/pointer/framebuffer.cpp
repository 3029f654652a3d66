// Mapping the framebuffer; see framebuffer.h.
#include "pointer/framebuffer.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

screen_mapping screen_map{};

namespace {
constexpr uint64_t page_mask = 0xFFF;
}

void reset_screen_map()
{
	screen_map = screen_mapping{};
	screen_map.fd = -1;
}

void map_framebuffer(const char *path)
{
	screen_map.fd = open(path, O_RDWR);
	if (screen_map.fd == -1)
		return;
	if (ioctl(screen_map.fd, FBIOGET_FSCREENINFO, &screen_map.fix_info) == -1 ||
	    ioctl(screen_map.fd, FBIOGET_VSCREENINFO, &screen_map.var_info) == -1) {
		fputs(screen_request_failed_message, stdout);
		(void)close(screen_map.fd);
		screen_map.fd = -1;
		return;
	}
	// The device maps whole pages from offset 0, so a screen memory that does
	// not start on a page boundary begins page_offset bytes into the mapping.
	uint64_t smem_start = screen_map.fix_info.smem_start;
	std::size_t smem_len = screen_map.fix_info.smem_len;
	const auto page_offset = static_cast<int32_t>(smem_start & page_mask);
	const std::size_t map_length = smem_len + static_cast<std::size_t>(page_offset);
	void *mapped = mmap(nullptr, map_length, PROT_READ | PROT_WRITE, MAP_SHARED, screen_map.fd, 0);
	(void)close(screen_map.fd);
	screen_map.fd = -1;
	if (mapped == MAP_FAILED)
		return;
	attach_screen_memory(static_cast<unsigned char *>(mapped), page_offset, smem_len);
}

void attach_screen_memory(unsigned char *mapping, int32_t page_offset, std::size_t smem_len)
{
	screen_map.fix_info.smem_len = static_cast<uint32_t>(smem_len);
	screen_map.page_offset = page_offset;
	screen_map.map_length = smem_len + static_cast<std::size_t>(page_offset);
	screen_map.mapping = mapping;
	screen_map.pixels = mapping + page_offset;
	screen_map.limit_start = screen_map.pixels;
	screen_map.limit_end = screen_map.pixels + smem_len;
}
