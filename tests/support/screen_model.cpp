// The expected-screen model; see screen_model.h.
#include "screen_model.h"

#include <cstdio>

#include "pointer/panel.h"

namespace {

std::vector<uint8_t> as_bytes(const std::vector<uint16_t> &pixels)
{
	std::vector<uint8_t> bytes;
	bytes.reserve(2 * pixels.size());
	for (uint16_t pixel : pixels) {
		bytes.push_back(static_cast<uint8_t>(pixel & 0xFF));
		bytes.push_back(static_cast<uint8_t>(pixel >> 8));
	}
	return bytes;
}

} // namespace

std::vector<arrow_pixel> arrow_pixels(const screen_layout &layout, int anchor_column,
				      int anchor_row)
{
	std::vector<arrow_pixel> pixels;
	for (int k = 0; k < cursor_size; ++k) {
		for (int j = 0; j < cursor_size; ++j) {
			const int column = anchor_column - 1 - k;
			const int row = anchor_row + j;
			const char look = arrow_picture[static_cast<std::size_t>(k)][static_cast<std::size_t>(j)];
			if (look == '.' || column < 0 || column >= screen_columns || row < 0 ||
			    row >= screen_rows)
				continue;
			const std::size_t in_memory = static_cast<std::size_t>(row) * layout.line_length +
						      2 * static_cast<std::size_t>(column);
			if (in_memory + 2 > layout.memory_bytes)
				continue;
			pixels.push_back({layout.start + in_memory, look == 'B' ? arrow_black : arrow_white});
		}
	}
	return pixels;
}

std::vector<uint8_t> with_arrow(std::vector<uint8_t> bytes, const screen_layout &layout,
				int anchor_column, int anchor_row)
{
	for (const arrow_pixel &pixel : arrow_pixels(layout, anchor_column, anchor_row)) {
		bytes.at(pixel.byte) = static_cast<uint8_t>(pixel.value & 0xFF);
		bytes.at(pixel.byte + 1) = static_cast<uint8_t>(pixel.value >> 8);
	}
	return bytes;
}

std::vector<uint16_t> with_arrow(std::vector<uint16_t> pixels, const screen_layout &layout,
				 int anchor_column, int anchor_row)
{
	for (const arrow_pixel &pixel : arrow_pixels(layout, anchor_column, anchor_row))
		pixels.at(pixel.byte / 2) = pixel.value;
	return pixels;
}

std::string screen_differences(const std::vector<uint8_t> &actual,
			       const std::vector<uint8_t> &expected, const screen_layout &layout)
{
	if (actual.size() != expected.size())
		return "a buffer of " + std::to_string(actual.size()) + " bytes, expected " +
		       std::to_string(expected.size()) + "\n";
	std::string report;
	int wrong = 0;
	for (std::size_t at = 0; at < actual.size(); ++at) {
		if (actual[at] == expected[at])
			continue;
		char line[96];
		if (at < layout.start || at + 1 >= actual.size()) {
			(void)snprintf(line, sizeof line,
				       "byte %zu outside the screen memory: 0x%02X, expected 0x%02X\n",
				       at, actual[at], expected[at]);
		} else {
			const std::size_t pixel = at - (at - layout.start) % 2;
			const std::size_t in_memory = pixel - layout.start;
			(void)snprintf(line, sizeof line, "column %zu row %zu: 0x%04X, expected 0x%04X\n",
				       in_memory % layout.line_length / 2, in_memory / layout.line_length,
				       actual[pixel] | actual[pixel + 1] << 8,
				       expected[pixel] | expected[pixel + 1] << 8);
			at = pixel + 1;
		}
		if (++wrong <= 8)
			report += line;
	}
	if (wrong == 0)
		return report;
	return std::to_string(wrong) + " pixels differ:\n" + report;
}

std::string screen_differences(const std::vector<uint16_t> &actual,
			       const std::vector<uint16_t> &expected, const screen_layout &layout)
{
	return screen_differences(as_bytes(actual), as_bytes(expected), layout);
}
