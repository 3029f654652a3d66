// Opening, setting up and reading the adapter's serial line, and its
// command stream with the two commands that go back to the adapter.
#include "serial/serial_line.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termio.h>
#include <unistd.h>

#include "core/monotonic_clock.h"
#include "core/settings.h"
#include "core/stop_request.h"
#include "serial/frame_observer.h"
#include "serial/frame_payload.h"

serial_line_state serial_line;
serial_path_state serial_path;

void reset_serial_line()
{
	serial_line = {};
	serial_path = {};
}

namespace {

// Raw input: breaks ignored, no translation, no flow control, bit 7 kept.
constexpr unsigned short line_input_flags = IGNBRK | IMAXBEL;
// 8 data bits, receiver on, no parity, one stop bit, modem status ignored,
// modem lines dropped when the last descriptor closes.
constexpr unsigned short line_control_flags = CS8 | CREAD | HUPCL | CLOCAL;
static_assert(line_input_flags == 0x2001);
static_assert(line_control_flags == 0x0CB0);

// A read returns after at most 0.1 s on an idle line (VTIME 1). Two empty
// reads much closer together than that did not wait: the line has failed.
constexpr int64_t idle_read_ns = 100'000'000;
constexpr int64_t failed_read_ns = 90'000'000;

// Writes one adapter command whole and flushes it. A stop that is already
// pending starts no new write: the adapter's reader may be stuck.
void send_adapter_command(const unsigned char *bytes, std::size_t count)
{
	if (!serial_line.adapter_out || stop_pending())
		return;
	(void)fwrite(bytes, 1, count, serial_line.adapter_out); // device errors are not acted on
	(void)fflush(serial_line.adapter_out);
}

// Throws away what the adapter sent and nobody has read yet.
int flush_serial_input(int fd)
{
	return ioctl(fd, TCFLSH, TCIFLUSH);
}

// The steps after the open: lock, mode, DTR, settle. 0, or -1 when one
// fails (with its messages printed at start-up).
int set_up_serial_line(int32_t speed, line_open how)
{
	// Another copy of the daemon holds the line: give up quietly.
	if (flock(serial_line.serial_fd, LOCK_EX | LOCK_NB) == -1)
		return -1;
	if (how == line_open::again) {
		// From here on reads wait for their 0.1 s, as at start-up.
		int flags = fcntl(serial_line.serial_fd, F_GETFL);
		if (flags == -1 || fcntl(serial_line.serial_fd, F_SETFL, flags & ~O_NONBLOCK) == -1)
			return -1;
	}
	if (const char *failure = set_line_mode(serial_line.serial_fd, speed)) {
		// A request that a stop interrupted is the stop's to report.
		if (how == line_open::at_start_up && !stop_pending()) {
			fputs(failure, stdout);
			fputs(serial_setup_failed_message, stdout);
		}
		return -1;
	}
	raise_dtr(serial_line.serial_fd);
	if (how == line_open::at_start_up && active_settings.debug_enabled)
		fputs(dtr_raised_message, stdout);
	settle_line(serial_line.serial_fd);
	return 0;
}

// Whether two descriptors reach one device: the same file, and for a
// device node the same device behind it.
bool same_device(int one, int other)
{
	struct stat first{}, second{};
	if (fstat(one, &first) == -1 || fstat(other, &second) == -1)
		return false;
	return first.st_dev == second.st_dev && first.st_ino == second.st_ino &&
	       first.st_rdev == second.st_rdev;
}

} // namespace

void keep_line_path(const char *path)
{
	serial_path.line_path = {};
	std::array<char, PATH_MAX> directory{};
	if (path[0] != '/' && getcwd(directory.data(), directory.size())) {
		const char *slash = strcmp(directory.data(), "/") == 0 ? "" : "/";
		int length = snprintf(serial_path.line_path.data(), serial_path.line_path.size(),
				      "%s%s%s", directory.data(), slash, path);
		if (length > 0 && static_cast<std::size_t>(length) < serial_path.line_path.size())
			return;
	}
	if (strlen(path) < serial_path.line_path.size())
		(void)snprintf(serial_path.line_path.data(), serial_path.line_path.size(), "%s", path);
	else
		serial_path.line_path[0] = '\0';
}

unsigned speed_constant(int32_t speed)
{
	switch (speed) {
	case 19200: return B19200;
	case 38400: return B38400;
	case 57600: return B57600;
	default: return B9600;
	}
}

void close_serial_line()
{
	if (serial_line.serial_fd != -1)
		(void)close(serial_line.serial_fd); // releases the lock; HUPCL drops DTR
	serial_line.serial_fd = -1;
	if (serial_line.adapter_out)
		(void)fclose(serial_line.adapter_out);
	serial_line.adapter_out = nullptr;
	serial_line.last_empty_read_ns = 0;
}

const char *set_line_mode(int fd, int32_t speed)
{
	termio settings{};
	if (ioctl(fd, TCGETA, &settings) == -1)
		return tcgeta_failed_message;
	settings.c_iflag = line_input_flags;
	settings.c_oflag = 0;
	settings.c_cflag = static_cast<unsigned short>(speed_constant(speed) | line_control_flags);
	settings.c_lflag = 0;
	settings.c_cc[VTIME] = 1;
	settings.c_cc[VMIN] = 0;
	if (ioctl(fd, TCSETA, &settings) == -1)
		return tcseta_failed_message;
	return nullptr;
}

void raise_dtr(int fd)
{
	// Where the modem lines cannot be read (a pseudo-terminal), DTR alone is
	// written; neither request decides the outcome.
	int modem_lines = 0;
	if (ioctl(fd, TIOCMGET, &modem_lines) == -1)
		modem_lines = 0;
	modem_lines |= TIOCM_DTR;
	(void)ioctl(fd, TIOCMSET, &modem_lines);
}

void settle_line(int fd)
{
	sleep(1);
	(void)flush_serial_input(fd);
}

int open_serial_line(const char *path, int32_t speed, line_open how)
{
	const int wait_flag = how == line_open::at_start_up ? 0 : O_NONBLOCK;
	serial_line.serial_fd = open(path, O_RDWR | O_NOCTTY | wait_flag);
	if (serial_line.serial_fd == -1) {
		// An open that a stop interrupted is the stop's to report.
		if (how == line_open::at_start_up && !stop_pending())
			fputs(serial_open_failed_message, stdout);
		return -1;
	}
	if (set_up_serial_line(speed, how) == 0)
		return 0;
	if (how == line_open::again) { // closed for the next try
		(void)close(serial_line.serial_fd);
		serial_line.serial_fd = -1;
	}
	return -1;
}

int open_adapter_stream(const char *path)
{
	// Without O_CREAT: a device that is missing fails the open instead of
	// becoming a regular file in /dev.
	int fd = open(path, O_WRONLY | O_NOCTTY);
	if (fd == -1)
		return -1;
	if (same_device(fd, serial_line.serial_fd)) {
		serial_line.adapter_out = fdopen(fd, "w");
		if (serial_line.adapter_out)
			return 0;
	}
	(void)close(fd);
	return -1;
}

serial_read read_serial_byte()
{
	if (stop_pending())
		return {};
	// A byte costs one system call: the clock is read only after a read
	// that brought nothing (the handheld's kernel has no fast user-space
	// clock, so every clock read is a system call).
	unsigned char byte = 0;
	ssize_t got = read(serial_line.serial_fd, &byte, 1);
	if (got == 1)
		return {serial_read_kind::byte, byte};
	// A USB serial adapter pulled out fails its reads with EIO.
	if (got == -1 && errno == EIO)
		return {serial_read_kind::lost};
	if (stop_pending())
		return {};
	// An idle line waited its 0.1 s since the last empty read; a failed
	// one answered at once. Pace the failures so that a vanished device
	// does not spin: at most ten failed reads a second.
	int64_t now = monotonic_ns();
	int64_t since_last = now - serial_line.last_empty_read_ns;
	if (serial_line.last_empty_read_ns != 0 && since_last < failed_read_ns) {
		// A terminal that hung up (its other side closed) answers every
		// read at once with nothing, and its requests with EIO; a line that
		// only failed a read still answers them.
		termio settings{};
		if (ioctl(serial_line.serial_fd, TCGETA, &settings) == -1 && errno == EIO)
			return {serial_read_kind::lost};
		int64_t rest_ns = idle_read_ns - since_last;
		timespec rest{0, static_cast<long>(rest_ns)};
		nanosleep(&rest, nullptr);
		now += rest_ns;
	}
	serial_line.last_empty_read_ns = now;
	return {serial_read_kind::idle, 0, now};
}

void send_mouse_enable()
{
	static constexpr unsigned char command[] = {mouse_enable_command};
	send_adapter_command(command, sizeof command);
}

void send_led_command(unsigned led_bits)
{
	const light_command command = make_light_command(led_bits);
	send_adapter_command(command.data(), command.size());
	report_frame({.kind = frame_report_kind::lights, .led_bits = led_bits});
}
