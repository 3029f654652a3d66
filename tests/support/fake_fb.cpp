// A framebuffer for machines without one, and system calls that fail on
// request: loaded with LD_PRELOAD into the daemon, linked into the unit tests.
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
//
// What the daemon does when a device fails is shown by making its open,
// read and ioctl calls fail here, each way switched on by a variable that
// only this library reads. Unset, every call goes through untouched.
//
//   FAKE_LINE            the serial line's path as the daemon opens it. The
//                        first descriptor opened on it fails as
//                        FAKE_LINE_FAULT says once FAKE_LINE_AFTER bytes
//                        (default 0) were read from it; the path opened
//                        again after that is a healthy line.
//   FAKE_LINE_FAULT      "eio": reads fail with EIO (a USB serial adapter
//                        pulled out); "hangup": reads answer at once with
//                        nothing and requests fail with EIO (a terminal that
//                        hung up); "empty": reads answer at once with
//                        nothing, requests still work. The reads that
//                        answer nothing are real reads of no bytes, so the
//                        kernel counts them (syscr of /proc/PID/io).
//   FAKE_UINPUT          "denied": opening the uinput device fails with
//                        EACCES; "old:FILE": it opens FILE for appending
//                        instead, which takes every uinput request but
//                        UI_DEV_SETUP, refused as by a kernel before 4.5.
//
// Built without the C library's checked wrappers, which would define open
// and read inline in this file.
#undef _FORTIFY_SOURCE
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <array>
#include <fcntl.h>
#include <linux/fb.h>
#include <linux/uinput.h>
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

template <typename F> F next_function(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using open_function = int (*)(const char *, int, ...);
using read_function = ssize_t (*)(int, void *, size_t);

// The serial line's first descriptor and the bytes read from it so far.
struct line_fault_state {
	int fd = -1;
	unsigned long bytes_read = 0;
	bool shown = false; // a faulty answer has been given
};
line_fault_state line_fault;

// Descriptors that stand in for the uinput device ("old:FILE").
std::array<bool, 1024> fake_uinput_fds{};

bool line_fault_is(const char *which)
{
	const char *fault = getenv("FAKE_LINE_FAULT");
	return fault && strcmp(fault, which) == 0;
}

// Whether the line's descriptor now answers as a failed line.
bool line_failing(int fd)
{
	return fd != -1 && fd == line_fault.fd &&
	       line_fault.bytes_read >= env_number("FAKE_LINE_AFTER", 0);
}

bool is_uinput_path(const char *path)
{
	return strcmp(path, "/dev/uinput") == 0 || strcmp(path, "/dev/input/uinput") == 0;
}

int open_hooked(open_function next_open, const char *path, int flags, mode_t mode)
{
	const char *uinput = getenv("FAKE_UINPUT");
	if (uinput && is_uinput_path(path)) {
		if (strcmp(uinput, "denied") == 0) {
			errno = EACCES;
			return -1;
		}
		if (strncmp(uinput, "old:", 4) == 0) {
			int fd = next_open(uinput + 4, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
			if (fd >= 0 && static_cast<std::size_t>(fd) < fake_uinput_fds.size())
				fake_uinput_fds[static_cast<std::size_t>(fd)] = true;
			return fd;
		}
	}
	int fd = next_open(path, flags, mode);
	if (fd >= 0 && static_cast<std::size_t>(fd) < fake_uinput_fds.size())
		fake_uinput_fds[static_cast<std::size_t>(fd)] = false;
	const char *line = getenv("FAKE_LINE");
	if (fd >= 0 && line && strcmp(path, line) == 0) {
		if (line_fault.fd == -1 && !line_fault.shown)
			line_fault.fd = fd;
		else if (line_fault.shown)
			line_fault.fd = -1; // the adapter plugged in again
	}
	return fd;
}

mode_t mode_argument(int flags, va_list arguments)
{
	return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

} // namespace

extern "C" int open(const char *path, int flags, ...)
{
	va_list arguments;
	va_start(arguments, flags);
	mode_t mode = mode_argument(flags, arguments);
	va_end(arguments);
	static open_function next_open = next_function<open_function>("open");
	return open_hooked(next_open, path, flags, mode);
}

// open64 is the same call under another name (on a 64-bit system, the same
// function): one hook serves both.
extern "C" int open64(const char *path, int flags, ...) __attribute__((alias("open")));

extern "C" ssize_t read(int fd, void *buffer, size_t count)
{
	static read_function next_read = next_function<read_function>("read");
	if (!line_failing(fd)) {
		ssize_t got = next_read(fd, buffer, count);
		if (got > 0 && fd == line_fault.fd)
			line_fault.bytes_read += static_cast<unsigned long>(got);
		return got;
	}
	line_fault.shown = true;
	if (line_fault_is("eio")) {
		errno = EIO;
		return -1;
	}
	return next_read(fd, buffer, 0); // "hangup", "empty": nothing, at once
}

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

	if (line_failing(fd) && line_fault_is("hangup")) {
		errno = EIO;
		return -1;
	}
	if (static_cast<std::size_t>(fd) < fake_uinput_fds.size() &&
	    fake_uinput_fds[static_cast<std::size_t>(fd)] && _IOC_TYPE(request) == UINPUT_IOCTL_BASE) {
		if (request == UI_DEV_SETUP) {
			errno = EINVAL;
			return -1;
		}
		return 0;
	}

	using ioctl_function = int (*)(int, unsigned long, ...);
	static ioctl_function next_ioctl =
		reinterpret_cast<ioctl_function>(dlsym(RTLD_NEXT, "ioctl"));
	return next_ioctl(fd, request, argument);
}
