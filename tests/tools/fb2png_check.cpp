// fb2png_check FB2PNG: the picture fb2png writes is the screen as a person
// holding the handheld sideways sees it, in the right colours.
//
// A picture turned the wrong way, mirrored, or read with the wrong row
// length still looks like a picture, and a colour expanded without its low
// bits looks nearly right, so both are easy to miss by eye. This check
// writes framebuffer files with marked pixels, runs fb2png on them, reads
// the PNG back with libpng and compares pixel by pixel; it also runs the
// refusals (a file too short, a picture over the dump, bad arguments). Registered as a CTest test.
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int screen_columns = 480;
constexpr int screen_rows = 640;

struct rgb {
	int r, g, b;
	bool operator==(const rgb &) const = default;
};

// A marked framebuffer pixel and where and how it must appear: picture
// x = row, picture y = 479 - column, RGB565 widened by repeating the top
// bits (31 -> 255, 63 -> 255, 16 -> 132, 32 -> 130).
struct pixel_case {
	const char *legend;
	int column;
	int row;
	uint16_t pixel;
	int x;
	int y;
	rgb colour;
};

constexpr pixel_case pixel_cases[] = {
	{"last column, first row: top left", 479, 0, 0xF800, 0, 0, {255, 0, 0}},
	{"first column, first row: bottom left", 0, 0, 0x07E0, 0, 479, {0, 255, 0}},
	{"last column, last row: top right", 479, 639, 0x001F, 639, 0, {0, 0, 255}},
	{"first column, last row: bottom right", 0, 639, 0xFFFF, 639, 479, {255, 255, 255}},
	{"middle grey keeps its low bits", 200, 300, 0x8410, 300, 279, {132, 130, 132}},
	{"one step of each channel", 1, 1, 0x0821, 1, 478, {8, 4, 8}},
	{"black stays black", 478, 638, 0x0000, 638, 1, {0, 0, 0}},
};

// The rest of the screen: a colour none of the cases uses.
constexpr uint16_t filler = 0x4208;
constexpr rgb filler_rgb{66, 65, 66};

std::string directory;
int failures = 0;

void fail(const std::string &what)
{
	++failures;
	printf("FAIL %s\n", what.c_str());
}

// Writes a framebuffer file with the marked pixels, rows line_length bytes
// apart; the bytes past each row's 480 pixels hold a colour of their own,
// which must never show.
void write_screen(const std::string &path, long line_length, std::size_t cut_short)
{
	std::vector<uint8_t> memory(static_cast<std::size_t>(line_length) * screen_rows, 0xEE);
	for (int row = 0; row < screen_rows; ++row)
		for (int column = 0; column < screen_columns; ++column)
			memcpy(&memory[static_cast<std::size_t>(row * line_length + 2 * column)], &filler, 2);
	for (const pixel_case &c : pixel_cases)
		memcpy(&memory[static_cast<std::size_t>(c.row * line_length + 2 * c.column)], &c.pixel, 2);
	memory.resize(memory.size() - cut_short);
	FILE *file = fopen(path.c_str(), "wb");
	if (!file || fwrite(memory.data(), 1, memory.size(), file) != memory.size() || fclose(file) != 0) {
		perror(path.c_str());
		exit(1);
	}
}

int run(const std::string &command)
{
	int status = system((command + " >/dev/null").c_str());
	return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool read_picture(const std::string &path, std::vector<png_byte> &pixels, int &width, int &height)
{
	png_image image{};
	image.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&image, path.c_str()))
		return false;
	image.format = PNG_FORMAT_RGB;
	pixels.resize(PNG_IMAGE_SIZE(image));
	width = static_cast<int>(image.width);
	height = static_cast<int>(image.height);
	return png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
}

rgb at(const std::vector<png_byte> &pixels, int width, int x, int y)
{
	std::size_t i = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x));
	return rgb{pixels[i], pixels[i + 1], pixels[i + 2]};
}

void check_picture(const std::string &fb2png, long line_length)
{
	std::string legend = "row length " + std::to_string(line_length) + ": ";
	std::string screen = directory + "/screen";
	std::string picture = directory + "/screen.png";
	write_screen(screen, line_length, 0);
	(void)unlink(picture.c_str()); // a picture of an earlier round must not count
	std::string command = fb2png + " -l " + std::to_string(line_length) + " " + screen + " " + picture;
	if (run(command) != 0) {
		fail(legend + "fb2png failed");
		return;
	}
	std::vector<png_byte> pixels;
	int width = 0;
	int height = 0;
	if (!read_picture(picture, pixels, width, height)) {
		fail(legend + "the PNG cannot be read");
		return;
	}
	if (width != screen_rows || height != screen_columns) {
		fail(legend + "size " + std::to_string(width) + " x " + std::to_string(height) + ", not 640 x 480");
		return;
	}
	int marked = 0;
	for (const pixel_case &c : pixel_cases) {
		rgb got = at(pixels, width, c.x, c.y);
		if (!(got == c.colour))
			fail(legend + c.legend + ": (" + std::to_string(got.r) + ", " + std::to_string(got.g) +
			     ", " + std::to_string(got.b) + ")");
	}
	// Everything else is the filler: nothing from past the end of a row,
	// nothing moved.
	for (int y = 0; y < height; ++y)
		for (int x = 0; x < width; ++x)
			marked += at(pixels, width, x, y) == filler_rgb ? 0 : 1;
	if (marked != static_cast<int>(std::size(pixel_cases)))
		fail(legend + std::to_string(marked) + " pixels differ from the filler, not " +
		     std::to_string(std::size(pixel_cases)));
}

// What fb2png must refuse, with which status and words; the framebuffer
// file must come out of it whole.
struct refusal_case {
	const char *legend;
	const char *arguments; // SCREEN, PNG, LINK (to SCREEN), HARD (one more name) stand for paths
	std::size_t cut_short; // bytes missing from the framebuffer file
	int status;
	const char *says;
};

constexpr refusal_case refusal_cases[] = {
	{"a framebuffer one byte short", "SCREEN PNG", 1, 1, "less than 614400"},
	{"a missing framebuffer", "NOSUCH PNG", 0, 1, "cannot open"},
	{"a row length below 960 bytes", "-l 958 SCREEN PNG", 0, 2, "at least 960"},
	{"no picture named", "SCREEN", 0, 2, "both needed"},
	{"the picture is the framebuffer", "SCREEN SCREEN", 0, 1, "the picture would overwrite it"},
	{"the picture is a link to it", "SCREEN LINK", 0, 1, "the picture would overwrite it"},
	{"the picture is a hard link to it", "SCREEN HARD", 0, 1, "the picture would overwrite it"},
	{"a directory", "DIR PNG", 0, 1, "is a directory, not a framebuffer dump"},
};

void check_refusals(const std::string &fb2png)
{
	std::string screen = directory + "/screen";
	std::string said = directory + "/said";
	write_screen(screen, 960, 0);
	if (symlink(screen.c_str(), (directory + "/link").c_str()) != 0 ||
	    link(screen.c_str(), (directory + "/hard").c_str()) != 0) {
		perror("linking the framebuffer file");
		exit(1);
	}
	for (const refusal_case &c : refusal_cases) {
		write_screen(screen, 960, c.cut_short);
		std::string arguments;
		for (std::string_view rest = c.arguments; !rest.empty();) {
			std::string_view word = rest.substr(0, rest.find(' '));
			rest.remove_prefix(std::min(rest.size(), word.size() + 1));
			std::string path(word);
			for (auto [name, stand_in] : {std::pair{"SCREEN", screen}, std::pair{"PNG", directory + "/out.png"},
						      std::pair{"NOSUCH", directory + "/nosuch"},
						      std::pair{"LINK", directory + "/link"},
						      std::pair{"HARD", directory + "/hard"}, std::pair{"DIR", directory}})
				if (word == name)
					path = stand_in;
			arguments += " " + path;
		}
		int status = run(fb2png + arguments + " 2>" + said);
		std::string message;
		FILE *file = fopen(said.c_str(), "r");
		for (int letter = 0; file && (letter = fgetc(file)) != EOF;)
			message += static_cast<char>(letter);
		if (file)
			(void)fclose(file);
		struct stat st {};
		if (status != c.status || message.find(c.says) == std::string::npos)
			fail(std::string(c.legend) + ": status " + std::to_string(status) + ", not " +
			     std::to_string(c.status) + ", and: " + message);
		if (stat(screen.c_str(), &st) != 0 || st.st_size != 960 * screen_rows - static_cast<off_t>(c.cut_short))
			fail(std::string(c.legend) + ": the framebuffer file was changed");
	}
}

} // namespace

int main(int argc, char **argv)
{
	if (argc != 2) {
		fprintf(stderr, "Usage: fb2png_check FB2PNG\n");
		return 2;
	}
	char pattern[] = "/tmp/fb2png_check.XXXXXX";
	if (!mkdtemp(pattern)) {
		perror("mkdtemp");
		return 1;
	}
	directory = pattern;
	check_picture(argv[1], 960);
	check_picture(argv[1], 1024);
	check_refusals(argv[1]);
	(void)run("rm -rf " + directory);
	printf("%s: %zu pixels at two row lengths, %zu refusals\n", failures == 0 ? "PASS" : "FAIL",
	       std::size(pixel_cases), std::size(refusal_cases));
	return failures == 0 ? 0 : 1;
}
