// The emulated board's reader of the input devices that ps2linkd -u creates:
// the board has no input tools, and the host sees the board only through
// the lines its init reports. Built like the daemon (static musl, ARMv5TE,
// no C++ runtime) and installed beside the bundle, not in it.
//
// Without arguments it finds "ps2link keyboard" and "ps2link mouse" among the
// event devices (waiting up to 5 s for them), says "TAG bus BUSTYPE" and
// "TAG keys above 255 CODE ..." (the key codes above 255 the device
// declares, as the kernel reports them) for each, then prints "TAG TYPE CODE VALUE" for every event either device
// delivers, and "TAG gone" when the kernel has taken a device away (its read
// fails with ENODEV); it ends when neither is left. With arguments
// "CODE VALUE ...", it writes those EV_LED events and a SYN_REPORT to the
// keyboard device, as a program setting the keyboard's lights does.
#include "output/input_event_record.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <string.h>
#include <unistd.h>

namespace {

struct device {
	const char *tag;
	const char *name;  // as /sys/class/input/eventN/device/name holds it
	int number;        // N of /dev/input/eventN, -1 while not found
};

device devices[] = {{"kbd", "ps2link keyboard\n", -1}, {"mouse", "ps2link mouse\n", -1}};

// The first line of a small sysfs file, with its newline, or "".
void read_text(const char *path, char *text, size_t size)
{
	text[0] = '\0';
	int fd = open(path, O_RDONLY);
	if (fd < 0)
		return;
	ssize_t length = read(fd, text, size - 1);
	text[length > 0 ? length : 0] = '\0';
	close(fd);
}

void find_devices()
{
	char path[64], text[64];
	for (int n = 0; n < 32; n++) {
		snprintf(path, sizeof path, "/sys/class/input/event%d/device/name", n);
		read_text(path, text, sizeof text);
		for (device &d : devices)
			if (strcmp(text, d.name) == 0)
				d.number = n;
	}
}

bool found_all()
{
	for (const device &d : devices)
		if (d.number < 0)
			return false;
	return true;
}

int open_device(const device &d, int flags)
{
	char path[32];
	snprintf(path, sizeof path, "/dev/input/event%d", d.number);
	return open(path, flags);
}

int write_lights(int count, char **arguments)
{
	input_event_record records[16] = {};
	int n = 0;
	for (int i = 0; i + 1 < count && n < 15; i += 2, n++) {
		records[n].type = EV_LED;
		records[n].code = static_cast<uint16_t>(atoi(arguments[i]));
		records[n].value = atoi(arguments[i + 1]);
	}
	records[n++].type = EV_SYN;  // code SYN_REPORT, value 0
	int fd = open_device(devices[0], O_WRONLY);
	ssize_t size = static_cast<ssize_t>(n * sizeof records[0]);
	if (fd < 0 || write(fd, records, size) != size) {
		dprintf(2, "event_reader: writing the lights: %s\n", strerror(errno));
		return 1;
	}
	close(fd);
	return 0;
}

// "TAG keys above 255 CODE ...": the key codes above 255 that the device
// declares, which the kernel reports as a bit field (EVIOCGBIT).
void print_high_keys(const char *tag, int fd)
{
	unsigned char bits[KEY_MAX / 8 + 1] = {};
	if (ioctl(fd, EVIOCGBIT(EV_KEY, sizeof bits), bits) < 0) {
		dprintf(1, "%s keys %s\n", tag, strerror(errno));
		return;
	}
	char line[256];
	int length = snprintf(line, sizeof line, "%s keys above 255", tag);
	for (int code = 256; code <= KEY_MAX && length < static_cast<int>(sizeof line) - 8; code++)
		if (bits[code / 8] >> (code % 8) & 1)
			length += snprintf(line + length, sizeof line - static_cast<size_t>(length), " %d", code);
	dprintf(1, "%s\n", line);
}

int read_events()
{
	pollfd polled[2];
	int left = 0;
	for (int i = 0; i < 2; i++) {
		char path[64], bus[16];
		snprintf(path, sizeof path, "/sys/class/input/event%d/device/id/bustype",
			 devices[i].number);
		read_text(path, bus, sizeof bus);
		polled[i] = {devices[i].number < 0 ? -1 : open_device(devices[i], O_RDONLY), POLLIN, 0};
		if (polled[i].fd < 0)
			dprintf(1, "%s missing\n", devices[i].tag);
		else {
			dprintf(1, "%s bus %s", devices[i].tag, bus);  // bus ends in a newline
			print_high_keys(devices[i].tag, polled[i].fd);
		}
		left += polled[i].fd >= 0;
	}
	while (left > 0) {
		if (poll(polled, 2, -1) < 0 && errno != EINTR)
			return 1;
		for (int i = 0; i < 2; i++) {
			if (polled[i].fd < 0 || polled[i].revents == 0)
				continue;
			input_event_record records[16];
			ssize_t length = read(polled[i].fd, records, sizeof records);
			if (length < 0 && errno == EINTR)
				continue;
			if (length <= 0) {
				dprintf(1, "%s %s\n", devices[i].tag,
					length < 0 && errno == ENODEV ? "gone" : strerror(errno));
				close(polled[i].fd);
				polled[i].fd = -1;
				left--;
				continue;
			}
			for (ssize_t k = 0; k < length / static_cast<ssize_t>(sizeof records[0]); k++)
				dprintf(1, "%s %u %u %d\n", devices[i].tag, records[k].type,
					records[k].code, static_cast<int>(records[k].value));
		}
	}
	return 0;
}

}  // namespace

int main(int argc, char **argv)
{
	for (int tries = 0; tries < 500 && !found_all(); tries++) {
		find_devices();
		if (!found_all())
			usleep(10000);
	}
	if (argc > 1)
		return write_lights(argc - 1, argv + 1);
	return read_events();
}
