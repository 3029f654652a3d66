// fb2png: a picture of the handheld's screen, from a copy of its memory.
//
// The framebuffer holds 480 columns by 640 rows of 16-bit RGB565 pixels,
// row after row. The handheld is held sideways, so stored as it is the
// picture would lie on its side; this tool writes it as a PNG the way a
// person holding the handheld sees it, which is also how the daemon's
// mouse cursor stands upright.
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pointer/panel.h"
#include "tool_usage.h"

namespace {

const char *const usage_text =
	"Usage: fb2png [-l BYTES] FRAMEBUFFER PNG\n"
	"Writes a copy of the handheld's framebuffer (16-bit RGB565 pixels, 480\n"
	"columns by 640 rows, in native byte order) as a 640 x 480 PNG, turned\n"
	"the way a person holding the handheld sideways sees it: picture x is\n"
	"the framebuffer row and picture y is 479 minus the column, so the mouse\n"
	"cursor's arrow stands upright with its tip at the top left.\n"
	"\n"
	"  -l BYTES   bytes from one framebuffer row to the next (default 960)\n";

constexpr int picture_width = screen_rows;
constexpr int picture_height = screen_columns;

// RGB565 to 8 bits per channel, repeating the top bits into the bottom so
// that full intensity stays full (31 -> 255, 63 -> 255).
void to_rgb888(uint16_t pixel, png_byte *out)
{
	unsigned r = (pixel >> 11) & 0x1F;
	unsigned g = (pixel >> 5) & 0x3F;
	unsigned b = pixel & 0x1F;
	out[0] = static_cast<png_byte>((r << 3) | (r >> 2));
	out[1] = static_cast<png_byte>((g << 2) | (g >> 4));
	out[2] = static_cast<png_byte>((b << 3) | (b >> 2));
}

// The picture written over the dump would leave neither: refused whatever
// path names the same file (the same path, a link, a hard link). A picture
// that does not exist yet cannot be the dump.
[[nodiscard]] bool is_distinct_picture(const char *screen_path, const char *picture_path)
{
	struct stat screen {};
	struct stat picture {};
	if (stat(screen_path, &screen) != 0 || stat(picture_path, &picture) != 0 ||
	    screen.st_dev != picture.st_dev || screen.st_ino != picture.st_ino)
		return true;
	fprintf(stderr, "fb2png: %s is the framebuffer dump %s: the picture would overwrite it\n",
		picture_path, screen_path);
	return false;
}

[[nodiscard]] bool read_screen(const char *path, long line_length, std::vector<uint8_t> &memory)
{
	FILE *file = fopen(path, "rb");
	if (!file) {
		fprintf(stderr, "fb2png: cannot open %s: %s\n", path, strerror(errno));
		return false;
	}
	struct stat st {};
	if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
		fprintf(stderr, "fb2png: %s is a directory, not a framebuffer dump\n", path);
		(void)fclose(file); // read only
		return false;
	}
	memory.assign(static_cast<std::size_t>(line_length) * screen_rows, 0);
	std::size_t got = fread(memory.data(), 1, memory.size(), file);
	(void)fclose(file); // read only
	if (got != memory.size()) {
		fprintf(stderr, "fb2png: %s holds %zu bytes, less than %zu for %d rows of %ld bytes\n",
			path, got, memory.size(), screen_rows, line_length);
		return false;
	}
	return true;
}

[[nodiscard]] bool write_png(const char *path, const std::vector<uint8_t> &memory, long line_length)
{
	FILE *file = fopen(path, "wb");
	if (!file) {
		fprintf(stderr, "fb2png: cannot create %s: %s\n", path, strerror(errno));
		return false;
	}
	png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
	png_infop info = png ? png_create_info_struct(png) : nullptr;
	if (!png || !info) {
		fprintf(stderr, "fb2png: cannot start a PNG\n");
		png_destroy_write_struct(&png, nullptr);
		(void)fclose(file);
		return false;
	}
	// Everything with a destructor exists before the jump point, so that a
	// jump back skips none.
	std::vector<png_byte> picture_row(3 * picture_width);
	// libpng reports its errors by jumping back here.
	if (setjmp(png_jmpbuf(png))) {
		fprintf(stderr, "fb2png: cannot write %s\n", path);
		png_destroy_write_struct(&png, &info);
		(void)fclose(file);
		return false;
	}
	png_init_io(png, file);
	png_set_IHDR(png, info, picture_width, picture_height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
		     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
	png_write_info(png, info);
	for (int y = 0; y < picture_height; ++y) {
		int column = screen_columns - 1 - y;
		for (int x = 0; x < picture_width; ++x) {
			int row = x;
			uint16_t pixel = 0;
			memcpy(&pixel, &memory[static_cast<std::size_t>(row * line_length + 2 * column)], sizeof pixel);
			to_rgb888(pixel, &picture_row[3 * static_cast<std::size_t>(x)]);
		}
		png_write_row(png, picture_row.data());
	}
	png_write_end(png, nullptr);
	png_destroy_write_struct(&png, &info);
	if (fclose(file) != 0) {
		fprintf(stderr, "fb2png: cannot write %s: %s\n", path, strerror(errno));
		return false;
	}
	return true;
}

} // namespace

int main(int argc, char **argv)
{
	long line_length = 2 * screen_columns;
	if (argc == 2 && strcmp(argv[1], "--help") == 0) {
		fputs(usage_text, stdout);
		return 0;
	}
	int letter;
	while ((letter = getopt(argc, argv, ":l:h")) != -1) {
		switch (letter) {
		case 'l': line_length = atol(optarg); break;
		case 'h': fputs(usage_text, stdout); return 0;
		default: refuse_option("fb2png", letter, argv);
		}
	}
	if (line_length < 2 * screen_columns)
		refuse_usage("fb2png", "-l " + std::to_string(line_length) +
					       ": a row is at least " + std::to_string(2 * screen_columns) + " bytes");
	if (optind + 2 != argc)
		refuse_usage("fb2png", argc - optind < 2 ? "FRAMEBUFFER and PNG are both needed"
							 : std::string("one argument too many: ") + argv[optind + 2]);
	std::vector<uint8_t> memory;
	if (!is_distinct_picture(argv[optind], argv[optind + 1]))
		return 1;
	if (!read_screen(argv[optind], line_length, memory))
		return 1;
	if (!write_png(argv[optind + 1], memory, line_length))
		return 1;
	return 0;
}
