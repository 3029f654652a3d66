// ps2keys: shows what ps2linkd writes to the keyboard and touch devices.
//
// The daemon's key events are bare numbers (" 30 1 \n") and its touch lines
// are panel coordinates ("500 1234 2345 0\n"); neither says much to a
// person. This reader takes them from a FIFO standing in for /dev/kbd or
// /dev/ts and prints each one decoded: key names from the key map file,
// touches turned back into screen positions through the calibration. It
// can also play the handheld's own software on a framebuffer file: paint a
// picture at start and a dot wherever the screen is touched.
#include <fcntl.h>
#include <getopt.h>
#include <libgen.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "keyboard/key_map.h"
#include "pointer/calibration.h"
#include "pointer/screen.h"
#include "proc_watch.h"
#include "wait_until.h"

namespace {

const char *const usage_text =
	"Usage: ps2keys [-m KEYMAP] [-c CALIBRATION] [-f FRAMEBUFFER [-l BYTES] [-b]]\n"
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
void note_button_name(const char *line, key_map_verdict verdict, void *)
{
	int button = -1;
	char name[key_map_line_buffer];
	if (verdict == key_map_verdict::joystick &&
	    sscanf(line, "%*s %d %" KEY_MAP_TOKEN_WIDTH_TEXT "s", &button, name) == 2)
		button_names[static_cast<std::size_t>(button)] = name;
}

void load_key_names(const char *path)
{
	if (load_key_map(path, note_button_name) != 0) {
		fprintf(stderr, "ps2keys: cannot open the key map %s: %s\n", path, strerror(errno));
		exit(1);
	}
	for (const auto &slots : key_table[0])
		for (const key_entry &slot : slots) {
			std::string &name = key_names[slot.value & 0xFF];
			if (slot.name && name.empty())
				name = slot.name;
		}
	for (std::size_t button = 0; button < joystick_button_count; ++button) {
		if (button_names[button].empty())
			continue;
		std::string &names = joystick_names[static_cast<uint32_t>(joystick_keys[button]) & 0xFF];
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
// calibration the touch is the screen position.
void load_calibration(const char *path)
{
	read_calibration(path);
	if (!calibration.valid || calibration.values[6] == 0) {
		fprintf(stderr, "ps2keys: %s does not hold a calibration\n", path);
		exit(1);
	}
}

struct screen_point {
	long column;
	long row;
};

screen_point screen_of_touch(long x, long y)
{
	if (!calibration.valid)
		return screen_point{x, y};
	std::array<long long, calibration_count> a{};
	std::copy(calibration.values.begin(), calibration.values.end(), a.begin());
	double divisor = static_cast<double>(a[6]);
	return screen_point{std::lround(static_cast<double>(a[0] * x + a[1] * y + a[2]) / divisor),
			    std::lround(static_cast<double>(a[3] * x + a[4] * y + a[5]) / divisor)};
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
	frame_view_box(40, 400, 560, 44, 3, rgb565(250, 250, 250), rgb565(90, 90, 110));
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
void paint_stroke(screen_point from, screen_point to)
{
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
	for (const file_holder &holder : holders_of(input))
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

std::string label;
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
	// Every line must reach a pipe or a log at once: others wait for it.
	setvbuf(stdout, nullptr, _IOLBF, 0);
	const char *map_path = nullptr;
	const char *calibration_path = nullptr;
	const char *screen_path = nullptr;
	const char *label_text = nullptr;
	bool picture = false;
	int letter;
	while ((letter = getopt(argc, argv, "m:c:f:l:bP:h")) != -1) {
		switch (letter) {
		case 'm': map_path = optarg; break;
		case 'c': calibration_path = optarg; break;
		case 'f': screen_path = optarg; break;
		case 'l': line_length = atol(optarg); break;
		case 'b': picture = true; break;
		case 'P': label_text = optarg; break;
		case 'h': fputs(usage_text, stdout); return 0;
		default: fputs(usage_text, stderr); return 2;
		}
	}
	if (optind + 1 < argc || line_length < 2 * screen_columns || (picture && !screen_path)) {
		fputs(usage_text, stderr);
		return 2;
	}
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
	printf("%s(closed by the writer)\n", label.c_str());
	return 0;
}
