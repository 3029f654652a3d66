// Standard input devices through uinput; see uinput.h.
#include "output/uinput.h"

#include <array>
#include <span>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "output/input_event_record.h"
#include "output/output_form.h"

namespace {

// Where the module's device appears: udev's usual place, then the one some
// older systems use.
constexpr std::array<const char *, 2> uinput_paths = {"/dev/uinput", "/dev/input/uinput"};

constexpr uint16_t uinput_vendor = 0x5032;
constexpr uint16_t uinput_keyboard_product = 0x0001;
constexpr uint16_t uinput_mouse_product = 0x0002;
constexpr uint16_t uinput_version = 0x0110;

// The PS/2 mouse status byte's buttons, and the lights of the keyboard's
// set-LEDs byte, each with the kernel's code for it.
struct bit_code {
	unsigned bit;
	uint16_t code;
};
constexpr std::array<bit_code, 3> mouse_button_codes = {{{0x01, BTN_LEFT}, {0x02, BTN_RIGHT}, {0x04, BTN_MIDDLE}}};
constexpr std::array<bit_code, 3> lights = {{{0x01, LED_SCROLLL}, {0x02, LED_NUML}, {0x04, LED_CAPSL}}};

// Keys whose make code has no break code: the kernel's driver releases them
// right after the press, and so do we. Pause (E0 80 here), Hanja, Hangeul.
constexpr uint8_t hanja_code = 0xF1;
constexpr uint8_t hangeul_code = 0xF2;

constexpr std::size_t set2_codes = 256;
constexpr std::size_t joystick_button_slots = 16;
constexpr unsigned key_value_repeat = 2;

struct uinput_state {
	int keyboard_fd = -1;
	int mouse_fd = -1;
	// Per scan code (plain, then after E0) and per joystick button: the key
	// code its press sent while it is down, 0 while it is up. A release
	// sends what its press sent, whatever the key map gives the release.
	std::array<uint16_t, 2 * set2_codes> keyboard_down{};
	std::array<uint16_t, joystick_button_slots> joystick_down{};
	// Per scan code: the modifier combination its press was looked up
	// under while it is down, so that a release or a repeat is reported
	// as coming from that press (a joystick button has none).
	std::array<uint8_t, 2 * set2_codes> keyboard_down_combination{};
	unsigned mouse_buttons_down = 0;
	// Key codes above 255 that the key map sends, one bit each.
	std::array<uint8_t, (KEY_MAX + 1) / 8> declared_keys{};
};
uinput_state uinput_devices;

// Records of one report, written in one call.
struct report {
	std::array<input_event_record, 8> records{};
	std::size_t count = 0;
};

void add(report &r, uint16_t type, uint16_t code, int32_t value)
{
	r.records[r.count++] = {0, 0, type, code, value};
}

// Ends the report with SYN_REPORT and writes it; the device's results are
// not acted on (uinput takes a write whole or not at all, and never waits).
void write_report(int fd, report &r)
{
	if (fd == -1 || r.count == 0)
		return;
	add(r, EV_SYN, SYN_REPORT, 0);
	(void)!write(fd, r.records.data(), r.count * sizeof(input_event_record));
}

void send_key_report(int32_t scan_number, bool with_scan, unsigned code, int32_t value)
{
	report r;
	if (with_scan)
		add(r, EV_MSC, MSC_SCAN, scan_number);
	add(r, EV_KEY, static_cast<uint16_t>(code), value);
	write_report(uinput_devices.keyboard_fd, r);
}

bool sends_no_release(uint8_t scan_code, uint8_t prefix_index)
{
	if (prefix_index == 1)
		return scan_code == pause_scan_code;
	return scan_code == hanja_code || scan_code == hangeul_code;
}

// A release or a repeat sends what its press sent: it is reported as that
// press's lookup.
void report_sent_as_press(bool from_keyboard, std::size_t slot)
{
	if (from_keyboard)
		outputs.sent_for.combination = uinput_devices.keyboard_down_combination[slot];
}

void send_uinput_key(const key_event &event)
{
	bool from_keyboard = event.source == key_source::keyboard;
	const std::size_t slot = from_keyboard ? event.prefix_index * set2_codes + event.scan_code
					       : event.button % joystick_button_slots;
	uint16_t &down_code = from_keyboard ? uinput_devices.keyboard_down[slot]
					    : uinput_devices.joystick_down[slot];
	auto scan = static_cast<int32_t>(kernel_scan_number(event.scan_code, event.prefix_index));
	if (!event.down) {
		if (down_code != 0) {
			send_key_report(scan, from_keyboard, down_code, 0);
			report_sent_as_press(from_keyboard, slot);
		}
		down_code = 0;
		return;
	}
	// The keyboard repeats the make code of a held key: the kernel's
	// driver reports that as value 2, which the console repeats on.
	if (down_code != 0) {
		send_key_report(scan, from_keyboard, down_code, key_value_repeat);
		report_sent_as_press(from_keyboard, slot);
		return;
	}
	unsigned code = uinput_key_code(event.value);
	if (code == 0)
		return;
	send_key_report(scan, from_keyboard, code, 1);
	if (from_keyboard && sends_no_release(event.scan_code, event.prefix_index))
		send_key_report(scan, true, code, 0);
	else {
		down_code = static_cast<uint16_t>(code);
		if (from_keyboard)
			uinput_devices.keyboard_down_combination[slot] = event.combination;
	}
}

void send_uinput_motion(int dx, int dy, unsigned buttons)
{
	report r;
	if (dx != 0)
		add(r, EV_REL, REL_X, dx);
	if (dy != 0)
		add(r, EV_REL, REL_Y, -dy); // evdev counts down as positive
	for (const bit_code &button : mouse_button_codes)
		if ((buttons ^ uinput_devices.mouse_buttons_down) & button.bit)
			add(r, EV_KEY, button.code, (buttons & button.bit) ? 1 : 0);
	uinput_devices.mouse_buttons_down = buttons & 0x07;
	write_report(uinput_devices.mouse_fd, r);
}

bool take_uinput_lights(unsigned &led_bits)
{
	unsigned before = led_bits;
	input_event_record record{};
	while (uinput_devices.keyboard_fd != -1 && read(uinput_devices.keyboard_fd, &record, sizeof record) == sizeof record) {
		if (record.type != EV_LED)
			continue;
		for (const bit_code &light : lights)
			if (record.code == light.code)
				led_bits = record.value ? (led_bits | light.bit) : (led_bits & ~light.bit);
	}
	return led_bits != before;
}

// Opens the first uinput path that exists. On failure prints the one line
// that names the device and what to do, and gives -1.
int open_uinput_path()
{
	const char *failed_path = uinput_paths[0];
	int failure = ENOENT;
	for (const char *path : uinput_paths) {
		int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
		if (fd != -1)
			return fd;
		// A path that is there but cannot be opened says more than a
		// missing one.
		if (errno != ENOENT && failure == ENOENT) {
			failed_path = path;
			failure = errno;
		}
	}
	bool permission = failure == EACCES || failure == EPERM;
	printf(uinput_open_failed_format, failed_path, strerror(failure),
	       permission ? uinput_permission_hint : uinput_missing_hint);
	return -1;
}

// Names the device and creates it: UI_DEV_SETUP where the kernel has it
// (4.5 and later), else the older write of the whole device record, which
// every kernel with uinput takes.
int create_device(int fd, const char *name, uint16_t product)
{
	uinput_setup setup{};
	setup.id = {BUS_RS232, uinput_vendor, product, uinput_version};
	(void)snprintf(setup.name, sizeof setup.name, "%s", name);
	if (ioctl(fd, UI_DEV_SETUP, &setup) == -1) {
		uinput_user_dev device{};
		device.id = setup.id;
		(void)snprintf(device.name, sizeof device.name, "%s", name);
		if (write(fd, &device, sizeof device) != static_cast<ssize_t>(sizeof device))
			return -1;
	}
	return ioctl(fd, UI_DEV_CREATE);
}

// What each device can send, as the uinput requests that declare it. The
// keyboard's keys and the mouse's buttons follow from their own tables.
struct capability {
	unsigned long request;
	int bit;
};
constexpr std::array<capability, 7> keyboard_capabilities = {{
	{UI_SET_EVBIT, EV_KEY}, {UI_SET_EVBIT, EV_MSC}, {UI_SET_EVBIT, EV_LED},
	{UI_SET_MSCBIT, MSC_SCAN}, {UI_SET_LEDBIT, LED_SCROLLL}, {UI_SET_LEDBIT, LED_NUML},
	{UI_SET_LEDBIT, LED_CAPSL},
}};
constexpr std::array<capability, 7> mouse_capabilities = {{
	{UI_SET_EVBIT, EV_KEY}, {UI_SET_EVBIT, EV_REL}, {UI_SET_RELBIT, REL_X},
	{UI_SET_RELBIT, REL_Y}, {UI_SET_KEYBIT, BTN_LEFT}, {UI_SET_KEYBIT, BTN_RIGHT},
	{UI_SET_KEYBIT, BTN_MIDDLE},
}};

void declare(int fd, std::span<const capability> capabilities)
{
	for (const capability &c : capabilities)
		(void)ioctl(fd, c.request, c.bit);
}

int create_keyboard()
{
	declare(uinput_devices.keyboard_fd, keyboard_capabilities);
	for (int code = 1; code <= KEY_MAX; ++code)
		if (code < static_cast<int>(set2_codes) || (uinput_devices.declared_keys[code / 8] >> (code % 8) & 1))
			(void)ioctl(uinput_devices.keyboard_fd, UI_SET_KEYBIT, code);
	return create_device(uinput_devices.keyboard_fd, uinput_keyboard_name, uinput_keyboard_product);
}

int create_mouse()
{
	declare(uinput_devices.mouse_fd, mouse_capabilities);
	// Kernels before device properties refuse this; the mouse works without.
	(void)ioctl(uinput_devices.mouse_fd, UI_SET_PROPBIT, INPUT_PROP_POINTER);
	return create_device(uinput_devices.mouse_fd, uinput_mouse_name, uinput_mouse_product);
}

void destroy(int &fd)
{
	if (fd == -1)
		return;
	(void)ioctl(fd, UI_DEV_DESTROY);
	(void)close(fd);
	fd = -1;
}

// A key code above 255 the keyboard must declare, one bit each.
void declare_uinput_key(uint32_t value)
{
	unsigned code = uinput_key_code(value);
	uinput_devices.declared_keys[code / 8] |= static_cast<uint8_t>(1u << (code % 8));
}

// Both descriptors are opened before either device is made, so that a
// start-up that fails has created nothing. Descriptors a caller gives
// stand for the two devices as if made here: whatever reads them in the
// kernel's place (a test, a trace) gets the records the devices would, and
// what it writes back comes in as lights.
int open_uinput(bool with_pointer, const given_output_devices *given)
{
	if (given) {
		uinput_devices.keyboard_fd = given->uinput_keyboard;
		uinput_devices.mouse_fd = with_pointer ? given->uinput_mouse : -1;
		return 0;
	}
	if (with_pointer && (uinput_devices.mouse_fd = open_uinput_path()) == -1)
		return -1;
	if ((uinput_devices.keyboard_fd = open_uinput_path()) == -1)
		return -1;
	if (with_pointer && create_mouse() == -1) {
		printf(uinput_create_failed_format, uinput_mouse_name, strerror(errno));
		return -1;
	}
	if (create_keyboard() == -1) {
		printf(uinput_create_failed_format, uinput_keyboard_name, strerror(errno));
		return -1;
	}
	return 0;
}

void release_uinput_keys(release_scope scope)
{
	for (uint16_t &code : uinput_devices.keyboard_down) {
		if (code != 0)
			send_key_report(0, false, code, 0);
		code = 0;
	}
	if (scope != release_scope::all)
		return;
	for (uint16_t &code : uinput_devices.joystick_down) {
		if (code != 0)
			send_key_report(0, false, code, 0);
		code = 0;
	}
}

// uinput never blocks a write.
void unblock_uinput() {}

// The mouse is relative motion here, never a touch.
void send_no_touch(int, int, int) {}

// Every key and button still down is released before the devices go, so
// that nothing reading them is left with a key held.
void close_uinput()
{
	release_uinput_keys(release_scope::all);
	send_uinput_motion(0, 0, 0);
	destroy(uinput_devices.mouse_fd);
	destroy(uinput_devices.keyboard_fd);
}

} // namespace

const output_form uinput_form = {
	.keeps_pointer = false,
	.lights_follow_keys = false,
	.declare_key = declare_uinput_key,
	.open = open_uinput,
	.send_key = send_uinput_key,
	.send_touch = send_no_touch,
	.send_motion = send_uinput_motion,
	.take_lights = take_uinput_lights,
	.release_keys = release_uinput_keys,
	.unblock = unblock_uinput,
	.close = close_uinput,
};

uint32_t kernel_scan_number(uint8_t scan_code, uint8_t prefix_index)
{
	if (prefix_index == 1) {
		if (scan_code == pause_scan_code)
			return pause_scan_number;
		return scan_code + 0x80u;
	}
	return scan_code < 0x80 ? scan_code : 0x100u + (scan_code & 0x7Fu);
}

unsigned uinput_key_code(uint32_t value)
{
	if (!is_wrapped_key(value) && value <= KEY_MAX)
		return value;
	return static_cast<unsigned>(key_code_byte(value));
}

void reset_uinput()
{
	uinput_devices = {};
}
