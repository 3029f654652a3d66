// ps2keys: shows what ps2linkd writes to the keyboard and touch devices.
//
// The daemon's key events are bare numbers (" 30 1 \n") and its touch lines
// are panel coordinates ("500 1234 2345 0\n"); neither says much to a
// person. This reader takes them from a FIFO standing in for /dev/kbd or
// /dev/ts and prints each one decoded: key names from the key map file,
// touches turned back into screen positions through the calibration. It
// can also play the handheld's own software on a framebuffer file: paint a
// picture at start, a dot wherever the screen is touched, and the text
// typed on the keyboard into the picture's input field.
#include <fcntl.h>
#include <getopt.h>
#include <libgen.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "checked_output.h"
#include "keyboard/key_map.h"
#include "keyboard/keyboard_frame.h"
#include "pointer/calibration.h"
#include "pointer/panel.h"
#include "proc_watch.h"
#include "tool_usage.h"
#include "wait_until.h"

namespace {

const char *const usage_text =
	"Usage: ps2keys [-m KEYMAP] [-c CALIBRATION] [-f FRAMEBUFFER [-l BYTES] [-b] [-t]]\n"
	"               [-P LABEL] [FILE]\n"
	"Reads what ps2linkd writes to its keyboard device (\" CODE DOWN \\n\") or its\n"
	"touch device (\"PRESSURE X Y 0\\n\") from FILE (a FIFO standing in for\n"
	"/dev/kbd or /dev/ts; standard input by default) and prints every line\n"
	"decoded. Ends when the daemon closes the device.\n"
	"\n"
	"  -m KEYMAP       take key names from this key map file: the key lines\n"
	"                  without modifier letters (first by scan code wins)\n"
	"                  and the J lines\n"
	"  -c CALIBRATION  the touch calibration (seven integers, as in\n"
	"                  /etc/pointercal): touches are shown as screen positions\n"
	"  -f FRAMEBUFFER  a framebuffer file (16-bit RGB565, 480 columns by 640\n"
	"                  rows): paint a dot at every touch with the button down,\n"
	"                  and a line from the touch before, as the handheld's own\n"
	"                  software would: once the daemon has moved its cursor\n"
	"                  and waits for input again\n"
	"  -l BYTES        bytes from one framebuffer row to the next (960)\n"
	"  -b              first paint a picture into the framebuffer: a gradient\n"
	"                  and a few boxes, upright for a handheld held sideways\n"
	"  -t              type: turn key events into characters by their names in\n"
	"                  the key map (-m), as a US keyboard with shift and Caps\n"
	"                  Lock would, and show the last two lines of the text in\n"
	"                  the picture's input field; say them at the end\n"
	"  -P LABEL        start every printed line with LABEL (default: the\n"
	"                  file's base name)\n";

constexpr int key_code_count = 256;

// The handheld is held sideways, so what a person sees as x runs along the
// rows and y runs backwards along the columns (x = row, y = 479 - column).
constexpr int view_width = screen_rows;
constexpr int view_height = screen_columns;

// ------------------------------------------------------------ key names

// Names by key code, from the tables the daemon loads: a key is named by
// the plain combination's slot (no modifier letters) that sends its code,
// the first in order of scan code, plain before extended; a joystick
// button by the name on its line.
std::array<std::string, key_code_count> key_names;
std::array<std::string, key_code_count> joystick_names;
std::array<std::string, joystick_button_count> button_names;

// The daemon keeps a joystick button's value but not its name: take the
// name from each line it accepted as a button.
void note_button_name(const key_map_line &line, void *)
{
	if (line.verdict == key_map_verdict::joystick)
		button_names[static_cast<std::size_t>(line.button)] = line.name.data();
}

void load_key_names(const char *path)
{
	// The daemon takes a regular file alone: a directory would open and
	// name no key at all.
	struct stat status {};
	if (stat(path, &status) == 0 && !S_ISREG(status.st_mode)) {
		fprintf(stderr, "ps2keys: the key map %s is %s\n", path,
			S_ISDIR(status.st_mode) ? "a directory" : "not a regular file");
		exit(1);
	}
	if (load_key_map(path, note_button_name) != 0) {
		fprintf(stderr, "ps2keys: cannot open the key map %s: %s\n", path, strerror(errno));
		exit(1);
	}
	for (const auto &slots : key_tables.key_table[0])
		for (const key_entry &slot : slots) {
			std::string &name = key_names[slot.value & 0xFF];
			if (slot.name && name.empty())
				name = slot.name;
		}
	for (std::size_t button = 0; button < joystick_button_count; ++button) {
		if (button_names[button].empty())
			continue;
		std::string &names = joystick_names[static_cast<uint32_t>(key_tables.joystick_keys[button]) & 0xFF];
		names += names.empty() ? "" : ", ";
		names += std::to_string(button) + " " + button_names[button];
	}
}

std::string name_of_code(int code)
{
	if (code < 0 || code >= key_code_count)
		return "(out of range)";
	std::string name = key_names[code].empty() ? "?" : key_names[code];
	if (!joystick_names[code].empty())
		name += "  (joystick " + joystick_names[code] + ")";
	return name;
}

// ---------------------------------------------------------- calibration

// The daemon's reading of the calibration, applied forwards as the
// handheld's touch driver does: screen column = (a1 x + a2 y + a3) / a7
// and row = (a4 x + a5 y + a6) / a7 for a panel point (x, y). Without a
// calibration the touch is the screen position. The daemon's reader says
// why a file holds none, naming it; a divisor of 0 is ours to name.
void load_calibration(const char *path)
{
	read_calibration(path, path);
	if (!calibration.valid)
		exit(1);
	if (calibration.values[6] == 0) {
		fprintf(stderr, "ps2keys: %s does not hold a calibration: its divisor is 0\n", path);
		exit(1);
	}
}

struct screen_point {
	long column;
	long row;
};

// Worked out in floating point: a panel point may be anything a line
// holds, and its product with a calibration factor need not fit an
// integer. Shown as a whole number, within 10^15 either way.
long shown_position(double position)
{
	constexpr double limit = 1e15;
	return std::lround(std::isnan(position) ? 0.0 : std::clamp(position, -limit, limit));
}

screen_point screen_of_touch(long x, long y)
{
	auto px = static_cast<double>(x);
	auto py = static_cast<double>(y);
	if (!calibration.valid)
		return screen_point{shown_position(px), shown_position(py)};
	std::array<double, calibration_count> a{};
	std::copy(calibration.values.begin(), calibration.values.end(), a.begin());
	return screen_point{shown_position((a[0] * px + a[1] * py + a[2]) / a[6]),
			    shown_position((a[3] * px + a[4] * py + a[5]) / a[6])};
}

// ----------------------------------------------------------- the screen

uint8_t *screen = nullptr;
long line_length = 2 * screen_columns;

constexpr uint16_t rgb565(int r, int g, int b)
{
	return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

void put_pixel(long column, long row, uint16_t colour)
{
	if (column < 0 || column >= screen_columns || row < 0 || row >= screen_rows)
		return;
	uint8_t *pixel = screen + row * line_length + 2 * column;
	memcpy(pixel, &colour, sizeof colour); // native order, as the daemon writes
}

// Paints in the picture a person sees: x to the right, y downwards.
void put_view_pixel(int x, int y, uint16_t colour)
{
	put_pixel(screen_columns - 1 - y, x, colour);
}

void fill_view_box(int x0, int y0, int width, int height, uint16_t colour)
{
	for (int y = y0; y < y0 + height; ++y)
		for (int x = x0; x < x0 + width; ++x)
			put_view_pixel(x, y, colour);
}

void frame_view_box(int x0, int y0, int width, int height, int border, uint16_t fill,
		    uint16_t edge)
{
	fill_view_box(x0, y0, width, height, edge);
	fill_view_box(x0 + border, y0 + border, width - 2 * border, height - 2 * border, fill);
}

// The picture's input field, where the keyboard reader types (-t).
struct view_box {
	int x;
	int y;
	int width;
	int height;
};
constexpr view_box text_field{40, 400, 560, 44};
constexpr int text_field_border = 3;
constexpr uint16_t text_field_colour = rgb565(250, 250, 250);

// A calm picture that shows which way is up: a gradient from deep blue at
// the top to teal at the bottom, a title bar, three boxes like icons and
// an input field near the bottom.
void paint_picture()
{
	for (int y = 0; y < view_height; ++y) {
		int shade = y * 255 / (view_height - 1);
		for (int x = 0; x < view_width; ++x)
			put_view_pixel(x, y, rgb565(16, 40 + shade / 2, 96 + shade / 3 + x * 40 / view_width));
	}
	fill_view_box(0, 0, view_width, 36, rgb565(220, 220, 228));
	fill_view_box(8, 8, 20, 20, rgb565(200, 48, 48));
	fill_view_box(36, 8, 20, 20, rgb565(240, 180, 40));
	fill_view_box(64, 8, 20, 20, rgb565(60, 170, 80));
	frame_view_box(40, 70, 96, 96, 4, rgb565(200, 60, 60), rgb565(255, 255, 255));
	frame_view_box(160, 70, 96, 96, 4, rgb565(60, 160, 90), rgb565(255, 255, 255));
	frame_view_box(280, 70, 96, 96, 4, rgb565(240, 170, 40), rgb565(255, 255, 255));
	frame_view_box(text_field.x, text_field.y, text_field.width, text_field.height,
		       text_field_border, text_field_colour, rgb565(90, 90, 110));
}

// The stroke colour of touches: bright yellow, unlike anything else here.
constexpr uint16_t stroke_colour = rgb565(255, 230, 0);
constexpr int dot_radius = 2;

void paint_dot(long column, long row)
{
	for (int dc = -dot_radius; dc <= dot_radius; ++dc)
		for (int dr = -dot_radius; dr <= dot_radius; ++dr)
			if (dc * dc + dr * dr <= dot_radius * dot_radius + 1)
				put_pixel(column + dc, row + dr, stroke_colour);
}

// Dots from the last touch to this one, one per step of the longer axis.
// A point far off the screen is clipped to a band one screen wide around
// it: a stroke towards it still crosses the screen, in a bounded number of
// steps.
screen_point clipped(screen_point point)
{
	constexpr long margin = screen_rows;
	return screen_point{std::clamp(point.column, -margin, screen_columns + margin),
			    std::clamp(point.row, -margin, screen_rows + margin)};
}

void paint_stroke(screen_point from, screen_point to)
{
	from = clipped(from);
	to = clipped(to);
	long steps = std::max(std::labs(to.column - from.column), std::labs(to.row - from.row));
	for (long i = 0; i <= steps; ++i) {
		double t = steps == 0 ? 1.0 : static_cast<double>(i) / static_cast<double>(steps);
		paint_dot(std::lround(static_cast<double>(from.column) + t * static_cast<double>(to.column - from.column)),
			  std::lround(static_cast<double>(from.row) + t * static_cast<double>(to.row - from.row)));
	}
}

void map_screen(const char *path)
{
	int fd = open(path, O_RDWR | O_CLOEXEC);
	if (fd == -1) {
		fprintf(stderr, "ps2keys: cannot open the framebuffer %s: %s\n", path, strerror(errno));
		exit(1);
	}
	struct stat st {};
	long needed = line_length * screen_rows;
	if (fstat(fd, &st) == -1 || st.st_size < needed) {
		fprintf(stderr, "ps2keys: the framebuffer %s is smaller than %ld bytes\n", path, needed);
		exit(1);
	}
	void *mapping = mmap(nullptr, static_cast<std::size_t>(needed), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
	if (mapping == MAP_FAILED) {
		fprintf(stderr, "ps2keys: cannot map the framebuffer %s: %s\n", path, strerror(errno));
		exit(1);
	}
	(void)close(fd); // the mapping stays
	screen = static_cast<uint8_t *>(mapping);
}

// ------------------------------------------------------------- typing

std::string label; // starts every printed line

// With -t the reader also plays the handheld's keyboard layer and text
// box: it follows shift and Caps Lock from the key events, turns keys into
// characters by their names in the key map (as a US keyboard prints them)
// and shows the typed text in the picture's input field, the last two
// lines of it, in a small bitmap font.

// The printable ASCII characters, 0x20 to 0x7E, 5 columns by 7 rows: a
// byte for each row from the top, the leftmost column in bit 4.
constexpr int glyph_width = 5;
constexpr int glyph_height = 7;
constexpr char first_glyph = ' ';
constexpr char last_glyph = '~';
constexpr std::array<std::array<uint8_t, glyph_height>, last_glyph - first_glyph + 1> glyphs{{
	{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, // space
	{0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}, // !
	{0x0A, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00}, // "
	{0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}, // #
	{0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04}, // $
	{0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}, // %
	{0x08, 0x14, 0x14, 0x08, 0x15, 0x12, 0x0D}, // &
	{0x04, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}, // '
	{0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}, // (
	{0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}, // )
	{0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00}, // *
	{0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}, // +
	{0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}, // ,
	{0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}, // -
	{0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}, // .
	{0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}, // /
	{0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, // 0
	{0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}, // 1
	{0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, // 2
	{0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}, // 3
	{0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, // 4
	{0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}, // 5
	{0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, // 6
	{0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}, // 7
	{0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, // 8
	{0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}, // 9
	{0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}, // :
	{0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08}, // ;
	{0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}, // <
	{0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}, // =
	{0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}, // >
	{0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}, // ?
	{0x0E, 0x11, 0x17, 0x15, 0x17, 0x10, 0x0E}, // @
	{0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, // A
	{0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}, // B
	{0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}, // C
	{0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}, // D
	{0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}, // E
	{0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}, // F
	{0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}, // G
	{0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, // H
	{0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, // I
	{0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}, // J
	{0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}, // K
	{0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}, // L
	{0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}, // M
	{0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}, // N
	{0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, // O
	{0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}, // P
	{0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}, // Q
	{0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}, // R
	{0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}, // S
	{0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, // T
	{0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, // U
	{0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}, // V
	{0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}, // W
	{0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}, // X
	{0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}, // Y
	{0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}, // Z
	{0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E}, // [
	{0x10, 0x10, 0x08, 0x04, 0x02, 0x01, 0x01}, // backslash
	{0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E}, // ]
	{0x04, 0x0A, 0x11, 0x00, 0x00, 0x00, 0x00}, // ^
	{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}, // _
	{0x08, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}, // `
	{0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}, // a
	{0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}, // b
	{0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E}, // c
	{0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F}, // d
	{0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}, // e
	{0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}, // f
	{0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E}, // g
	{0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11}, // h
	{0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E}, // i
	{0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C}, // j
	{0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12}, // k
	{0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, // l
	{0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}, // m
	{0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}, // n
	{0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}, // o
	{0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10}, // p
	{0x00, 0x00, 0x0D, 0x13, 0x0F, 0x01, 0x01}, // q
	{0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}, // r
	{0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}, // s
	{0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}, // t
	{0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D}, // u
	{0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04}, // v
	{0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A}, // w
	{0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11}, // x
	{0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E}, // y
	{0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F}, // z
	{0x02, 0x04, 0x04, 0x08, 0x04, 0x04, 0x02}, // {
	{0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}, // |
	{0x08, 0x04, 0x04, 0x02, 0x04, 0x04, 0x08}, // }
	{0x00, 0x00, 0x08, 0x15, 0x02, 0x00, 0x00}, // ~
}};

// Every font pixel is a square of 2 x 2 screen pixels; a character takes
// a blank column after its glyph, a line two blank rows below it.
constexpr int glyph_scale = 2;
constexpr int character_advance = (glyph_width + 1) * glyph_scale;
constexpr int line_advance = (glyph_height + 2) * glyph_scale;
constexpr int text_left = text_field.x + text_field_border + 5;
constexpr int text_top = text_field.y + text_field_border + 3;
constexpr std::size_t text_field_lines = 2;
constexpr std::size_t text_field_columns =
	(text_field.width - 2 * (text_left - text_field.x)) / character_advance;
static_assert(text_top - text_field.y + static_cast<int>(text_field_lines - 1) * line_advance +
			      glyph_height * glyph_scale <=
		      text_field.height - text_field_border,
	      "the text field holds its lines");
constexpr uint16_t text_colour = rgb565(20, 24, 72);

// The keys that type a character other than their name's one letter: the
// digits and punctuation of a US keyboard, unshifted and shifted.
struct named_character {
	const char *name;
	char plain;
	char shifted;
};
constexpr std::array<named_character, 22> named_characters{{
	{"1", '1', '!'}, {"2", '2', '@'}, {"3", '3', '#'}, {"4", '4', '$'},
	{"5", '5', '%'}, {"6", '6', '^'}, {"7", '7', '&'}, {"8", '8', '*'},
	{"9", '9', '('}, {"0", '0', ')'}, {"Grave", '`', '~'}, {"Minus", '-', '_'},
	{"Equal", '=', '+'}, {"LeftBrace", '[', '{'}, {"RightBrace", ']', '}'},
	{"Backslash", '\\', '|'}, {"Semicolon", ';', ':'}, {"Apostrophe", '\'', '"'},
	{"Comma", ',', '<'}, {"Dot", '.', '>'}, {"Slash", '/', '?'}, {"Space", ' ', ' '},
}};

bool typing = false;
std::vector<std::string> typed_lines{""};
std::array<bool, key_code_count> shift_keys_down{};
bool caps_lock = false;

bool named(const std::string &name, const char *word)
{
	return strcasecmp(name.c_str(), word) == 0;
}

// "LeftShift", "RightShift", "shift": any name that ends in shift.
bool is_shift_key(const std::string &name)
{
	constexpr std::size_t length = 5;
	return name.size() >= length && named(name.substr(name.size() - length), "shift");
}

// The character a key types, or 0: a one-letter name types its letter,
// in capitals when either shift or Caps Lock (not both) says so.
char character_of_key(const std::string &name, bool shifted)
{
	if (name.size() == 1 && isalpha(static_cast<unsigned char>(name[0]))) {
		int letter = tolower(static_cast<unsigned char>(name[0]));
		return static_cast<char>(shifted != caps_lock ? toupper(letter) : letter);
	}
	for (const named_character &key : named_characters)
		if (named(name, key.name))
			return shifted ? key.shifted : key.plain;
	return 0;
}

// Applies a key event to the typed text; true when the text changed.
// Enter starts a new line, BackSpace takes back the last character (or
// the line break before an empty line), a full line takes no more.
bool type_key(int code, int down)
{
	if (code < 0 || code >= key_code_count)
		return false;
	const std::string &name = key_names[code];
	if (is_shift_key(name)) {
		shift_keys_down[code] = down != 0;
		return false;
	}
	if (down != 1)
		return false;
	std::string &line = typed_lines.back();
	if (name == caps_lock_key_name) { // the name that switches the light, too
		caps_lock = !caps_lock;
		return false;
	}
	if (named(name, "Enter") || named(name, "KPEnter")) {
		typed_lines.emplace_back();
		return true;
	}
	if (named(name, "Backspace")) {
		if (!line.empty())
			line.pop_back();
		else if (typed_lines.size() > 1)
			typed_lines.pop_back();
		else
			return false;
		return true;
	}
	bool shifted = std::find(shift_keys_down.begin(), shift_keys_down.end(), true) !=
		       shift_keys_down.end();
	char character = character_of_key(name, shifted);
	if (character == 0 || line.size() >= text_field_columns)
		return false;
	line += character;
	return true;
}

// The field shows the last lines; the earlier ones have scrolled away.
std::size_t first_shown_line()
{
	return typed_lines.size() - std::min(typed_lines.size(), text_field_lines);
}

void paint_glyph(int x, int y, char character)
{
	if (character < first_glyph || character > last_glyph)
		return;
	const auto &rows = glyphs[static_cast<std::size_t>(character - first_glyph)];
	for (int row = 0; row < glyph_height; ++row)
		for (int column = 0; column < glyph_width; ++column)
			if (rows[static_cast<std::size_t>(row)] & (0x10 >> column))
				fill_view_box(x + column * glyph_scale, y + row * glyph_scale, glyph_scale,
					      glyph_scale, text_colour);
}

// Repaints the inside of the input field, and nothing else: the last lines
// of the text and a bar for the text cursor after the last character.
void paint_typed_text()
{
	fill_view_box(text_field.x + text_field_border, text_field.y + text_field_border,
		      text_field.width - 2 * text_field_border,
		      text_field.height - 2 * text_field_border, text_field_colour);
	int y = text_top;
	for (std::size_t i = first_shown_line(); i < typed_lines.size(); ++i, y += line_advance) {
		const std::string &line = typed_lines[i];
		for (std::size_t n = 0; n < line.size(); ++n)
			paint_glyph(text_left + static_cast<int>(n) * character_advance, y, line[n]);
	}
	int caret_x = text_left + static_cast<int>(typed_lines.back().size()) * character_advance;
	fill_view_box(caret_x, y - line_advance - 1, glyph_scale, glyph_height * glyph_scale + 2,
		      text_colour);
}

// The lines the field shows, as the reader's last word.
void show_typed_text()
{
	std::string text;
	for (std::size_t i = first_shown_line(); i < typed_lines.size(); ++i)
		text += " \"" + typed_lines[i] + "\"";
	printf("%stext field:%s\n", label.c_str(), text.c_str());
}

// ------------------------------------------------- the writer's rhythm

// The daemon writes a touch line and then moves its cursor: erases it,
// saves what lies under the new place, draws it. Painting while it does
// that could land between its save and its draw and be covered, and the
// next erase would then put the old background back over the paint. The
// handheld's software repaints after the cursor has moved; so do we: we
// paint once the writer of our input waits for input again.
int input_fd = -1;
std::vector<pid_t> writers;
bool writers_known = false;

void find_writers()
{
	writers_known = true;
	file_id input;
	if (!file_id_of_fd(input_fd, input))
		return;
	const file_holders found = holders_of(input);
	for (const file_holder &holder : listed(found))
		if (holder.access != O_RDONLY)
			writers.push_back(holder.pid);
}

void wait_for_writers_to_settle()
{
	if (!writers_known)
		find_writers();
	for (pid_t pid : writers) {
		// A bounded wait: a writer we cannot read about must not stop us.
		(void)wait_until(2000, [pid] {
			call_snapshot call = current_call(pid);
			return call.state == call_state::gone || waits_for_input(call);
		});
	}
}

// ------------------------------------------------------------ the lines

bool touching = false;
screen_point last_touch{0, 0};

// The line as it came, with its newline shown, for the people who want to
// see the exact format.
std::string quoted(const char *line)
{
	std::string text = "\"";
	for (const char *c = line; *c; ++c)
		text += *c == '\n' ? std::string("\\n") : std::string(1, *c);
	return text + "\"";
}

void show_key(const char *line, int code, int down)
{
	// Typed before the line is shown: whoever waits for the line finds
	// the text painted.
	if (typing && type_key(code, down))
		paint_typed_text();
	printf("%s%-13s %-8s %s\n", label.c_str(), quoted(line).c_str(),
	       down == 1 ? "press" : down == 0 ? "release" : "(down?)", name_of_code(code).c_str());
}

void show_touch(const char *line, long pressure, long x, long y)
{
	screen_point at = screen_of_touch(x, y);
	bool down = pressure > 0;
	printf("%s%-20s %s column %ld, row %ld\n", label.c_str(), quoted(line).c_str(),
	       down ? "touch at" : "no touch,", at.column, at.row);
	if (screen && down) {
		wait_for_writers_to_settle();
		paint_stroke(touching ? last_touch : at, at);
	}
	touching = down;
	last_touch = at;
}

void decode_line(const char *line)
{
	long numbers[5] = {};
	int consumed = 0;
	int count = sscanf(line, "%ld %ld %ld %ld %ld%n", &numbers[0], &numbers[1], &numbers[2],
			   &numbers[3], &numbers[4], &consumed);
	if (count == 2)
		show_key(line, static_cast<int>(numbers[0]), static_cast<int>(numbers[1]));
	else if (count == 4)
		show_touch(line, numbers[0], numbers[1], numbers[2]);
	else
		printf("%s%s  (not a key event or a touch line)\n", label.c_str(), quoted(line).c_str());
}

} // namespace

int main(int argc, char **argv)
{
	check_standard_output_at_exit("ps2keys");
	// Every line must reach a pipe or a log at once: others wait for it.
	setvbuf(stdout, nullptr, _IOLBF, 0);
	const char *map_path = nullptr;
	const char *calibration_path = nullptr;
	const char *screen_path = nullptr;
	const char *label_text = nullptr;
	bool picture = false;
	bool row_length_given = false;
	static const option long_options[] = {
		{"help", no_argument, nullptr, 'h'},
		{nullptr, 0, nullptr, 0},
	};
	const char *program = "ps2keys";
	int letter;
	while ((letter = getopt_long(argc, argv, ":m:c:f:l:btP:h", long_options, nullptr)) != -1) {
		switch (letter) {
		case 'm': map_path = optarg; break;
		case 'c': calibration_path = optarg; break;
		case 'f': screen_path = optarg; break;
		case 'l': {
			char *end = nullptr;
			errno = 0;
			line_length = strtol(optarg, &end, 10);
			if (*optarg == '\0' || *end != '\0' || errno != 0 ||
			    line_length < 2 * screen_columns || line_length > 1'000'000)
				refuse_usage(program, std::string("-l ") + optarg + ": a row takes " +
							      std::to_string(2 * screen_columns) +
							      " to 1000000 bytes");
			row_length_given = true;
			break;
		}
		case 'b': picture = true; break;
		case 't': typing = true; break;
		case 'P': label_text = optarg; break;
		case 'h': fputs(usage_text, stdout); return 0;
		default: refuse_option(program, letter, argv);
		}
	}
	if (optind + 1 < argc)
		refuse_usage(program, std::string("one FILE at a time: ") + argv[optind + 1] +
					      " is one more");
	// -b and -l are about the framebuffer: without one they mean nothing.
	if ((picture || row_length_given) && !screen_path)
		refuse_usage(program, std::string(picture ? "-b" : "-l") + " needs -f FRAMEBUFFER");
	if (typing && (!screen_path || !map_path))
		refuse_usage(program, "-t needs -f FRAMEBUFFER and -m KEYMAP");
	const char *input_path = optind < argc ? argv[optind] : nullptr;

	if (map_path)
		load_key_names(map_path);
	if (calibration_path)
		load_calibration(calibration_path);
	if (screen_path)
		map_screen(screen_path);
	if (picture)
		paint_picture();

	std::string default_label = input_path ? basename(const_cast<char *>(input_path)) : "stdin";
	label = (label_text ? label_text : default_label.c_str());
	label += "  ";

	// Opening a FIFO waits here until the daemon opens it for writing.
	FILE *input = input_path ? fopen(input_path, "r") : stdin;
	if (!input) {
		fprintf(stderr, "ps2keys: cannot open %s: %s\n", input_path, strerror(errno));
		return 1;
	}
	input_fd = fileno(input);
	char line[256];
	while (fgets(line, sizeof line, input))
		decode_line(line);
	// A directory opens as a file does and fails at the first read.
	if (ferror(input)) {
		fprintf(stderr, "ps2keys: cannot read %s: %s\n", input_path ? input_path : "standard input",
			strerror(errno));
		return 1;
	}
	if (typing)
		show_typed_text();
	printf("%s(closed by the writer)\n", label.c_str());
	return 0;
}
