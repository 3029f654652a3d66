// Opening, configuring and reading the adapter's serial line, and the two
// commands that go back to the adapter.
#include "serial/serial_line.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termio.h>
#include <unistd.h>

#include "core/monotonic_clock.h"
#include "core/settings.h"
#include "core/stop_request.h"
#include "serial/frame_observer.h"
#include "serial/frame_payload.h"

serial_line_state serial_line;

void reset_serial_line()
{
	serial_line = {};
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

} // namespace

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

int reopen_serial_line(const char *path, int32_t speed)
{
	// Without O_NONBLOCK the open of a USB serial line, which comes back
	// without CLOCAL, would wait for a carrier that never comes.
	int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
	if (fd == -1)
		return -1;
	int flags = fcntl(fd, F_GETFL);
	if (flock(fd, LOCK_EX | LOCK_NB) == -1 || flags == -1 ||
	    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1 ||
	    configure_serial_line(fd, speed, false) == -1) {
		(void)close(fd);
		return -1;
	}
	serial_line.serial_fd = fd;
	return 0;
}

int open_serial_line(const char *path, int32_t speed)
{
	serial_line.serial_fd = open(path, O_RDWR | O_NOCTTY);
	if (serial_line.serial_fd == -1) {
		// An open that a stop interrupted is the stop's to report.
		if (!stop_pending())
			fputs(serial_open_failed_message, stdout);
		return -1;
	}
	// Another copy of the daemon holds the line: give up quietly.
	if (flock(serial_line.serial_fd, LOCK_EX | LOCK_NB) == -1)
		return -1;
	if (configure_serial_line(serial_line.serial_fd, speed, true) == -1) {
		if (!stop_pending())
			fputs(serial_setup_failed_message, stdout);
		return -1;
	}
	return 0;
}

int configure_serial_line(int fd, int32_t speed, bool report)
{
	termio settings{};
	if (ioctl(fd, TCGETA, &settings) == -1) {
		if (report && !stop_pending())
			fputs(tcgeta_failed_message, stdout);
		return -1;
	}
	settings.c_iflag = line_input_flags;
	settings.c_oflag = 0;
	settings.c_cflag = static_cast<unsigned short>(speed_constant(speed) | line_control_flags);
	settings.c_lflag = 0;
	settings.c_cc[VTIME] = 1;
	settings.c_cc[VMIN] = 0;
	if (ioctl(fd, TCSETA, &settings) == -1) {
		if (report && !stop_pending())
			fputs(tcseta_failed_message, stdout);
		return -1;
	}

	// Raise DTR: the adapter takes its power and its go-ahead from it.
	// Where the modem lines cannot be read (a pseudo-terminal), DTR alone is
	// written; neither request decides the outcome.
	int modem_lines = 0;
	if (ioctl(fd, TIOCMGET, &modem_lines) == -1)
		modem_lines = 0;
	modem_lines |= TIOCM_DTR;
	(void)ioctl(fd, TIOCMSET, &modem_lines);
	if (active_settings.debug_enabled && report)
		fputs(dtr_raised_message, stdout);

	// Give the adapter a second to wake up, then drop its start-up noise.
	sleep(1);
	(void)flush_serial_input(fd);
	return 0;
}

int flush_serial_input(int fd)
{
	return ioctl(fd, TCFLSH, TCIFLUSH);
}

int read_serial_byte()
{
	if (stop_pending())
		return -1;
	// A byte costs one system call: the clock is read only after a read
	// that brought nothing (the handheld's kernel has no fast user-space
	// clock, so every clock read is a system call).
	unsigned char byte = 0;
	ssize_t got = read(serial_line.serial_fd, &byte, 1);
	if (got == 1)
		return byte;
	// A USB serial adapter pulled out fails its reads with EIO.
	if (got == -1 && errno == EIO)
		return serial_line_lost;
	if (stop_pending())
		return -1;
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
			return serial_line_lost;
		int64_t rest_ns = idle_read_ns - since_last;
		timespec rest{0, static_cast<long>(rest_ns)};
		nanosleep(&rest, nullptr);
		now += rest_ns;
	}
	serial_line.last_empty_read_ns = now;
	return -1;
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
