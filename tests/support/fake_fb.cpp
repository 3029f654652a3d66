// A framebuffer for machines without one, loaded with LD_PRELOAD.
//
// The daemon maps "/dev/fb0" after asking it for its fixed and variable
// screen information. In the tests and the demo, /dev/fb0 is a regular file
// of the screen's size; this library answers those two requests for it,
// with the screen memory start, length and line length taken from the
// environment, so that the real daemon maps the file and draws into it.
//
//   FAKE_FB_SMEM_START   physical start of screen memory (decimal or 0x..),
//                        default 0; its low 12 bits become the page offset
//   FAKE_FB_SMEM_LEN     bytes of screen memory, default 614400 (480 x 640 x 2)
//   FAKE_FB_LINE_LENGTH  bytes per row, default 960
//   FAKE_FB_FAIL         "fix" or "var": that request fails with EINVAL
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/settings.h"

namespace {

unsigned long env_number(const char *name, unsigned long fallback)
{
	const char *text = getenv(name);
	return text && *text ? strtoul(text, nullptr, 0) : fallback;
}

bool is_fake_framebuffer(int fd)
{
	struct stat info{};
	if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
		return false;
	char link[64];
	char target[256];
	snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
	ssize_t length = readlink(link, target, sizeof target - 1);
	if (length < 0)
		return false;
	target[length] = '\0';
	return strcmp(target, framebuffer_device) == 0;
}

bool should_fail(const char *which)
{
	const char *fail = getenv("FAKE_FB_FAIL");
	return fail && strcmp(fail, which) == 0;
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...)
{
	va_list arguments;
	va_start(arguments, request);
	void *argument = va_arg(arguments, void *);
	va_end(arguments);

	if ((request == FBIOGET_FSCREENINFO || request == FBIOGET_VSCREENINFO) &&
	    is_fake_framebuffer(fd)) {
		if (request == FBIOGET_FSCREENINFO) {
			if (should_fail("fix")) {
				errno = EINVAL;
				return -1;
			}
			fb_fix_screeninfo fix{};
			strncpy(fix.id, "fake fb", sizeof fix.id - 1);
			fix.smem_start = env_number("FAKE_FB_SMEM_START", 0);
			fix.smem_len = static_cast<uint32_t>(env_number("FAKE_FB_SMEM_LEN", 614400));
			fix.line_length = static_cast<uint32_t>(env_number("FAKE_FB_LINE_LENGTH", 960));
			fix.type = FB_TYPE_PACKED_PIXELS;
			fix.visual = FB_VISUAL_TRUECOLOR;
			memcpy(argument, &fix, sizeof fix);
			return 0;
		}
		if (should_fail("var")) {
			errno = EINVAL;
			return -1;
		}
		fb_var_screeninfo var{};
		var.xres = var.xres_virtual = 480;
		var.yres = var.yres_virtual = 640;
		var.bits_per_pixel = 16;
		var.red = {11, 5, 0};
		var.green = {5, 6, 0};
		var.blue = {0, 5, 0};
		memcpy(argument, &var, sizeof var);
		return 0;
	}

	using ioctl_function = int (*)(int, unsigned long, ...);
	static ioctl_function next_ioctl =
		reinterpret_cast<ioctl_function>(dlsym(RTLD_NEXT, "ioctl"));
	return next_ioctl(fd, request, argument);
}
