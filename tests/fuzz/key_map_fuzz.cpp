// Any text as a key map: the loader must take every line without reading or
// writing outside its buffers and tables, and leave only sane entries.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "keyboard/key_map.h"

namespace {

void check_line(const key_map_line &piece, void *)
{
	const char *line = piece.text;
	key_map_verdict verdict = piece.verdict;
	if (static_cast<std::size_t>(verdict) >= key_map_verdict_count)
		abort(); // a verdict outside the list
	if (strlen(line) >= key_map_line_buffer)
		abort(); // a piece longer than the line buffer
	if (!describe_key_map_verdict(verdict))
		abort();
}

// What holds after any map: names fit a token, repeat settings their mask,
// modifier codes name a modifier bit.
void check_tables()
{
	for (auto &combination : key_tables.key_table)
		for (auto &code : combination)
			for (const key_entry &slot : code)
				if (slot.name && strlen(slot.name) > KEY_MAP_TOKEN_WIDTH)
					abort();
	if (key_tables.keyrep_first > 0x7F || key_tables.keyrep_next > 0x7F)
		abort();
	for (uint8_t bit : key_tables.modifier_of_code)
		if (bit & (bit - 1))
			abort(); // more than one modifier for one key
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// The loader's state is the key map's alone; it is emptied at the end.
	FILE *stream = open_input_stream(data, size);
	if (!stream)
		return 0;
	(void)load_key_map_stream(stream, check_line, nullptr);
	(void)fclose(stream);
	check_tables();
	reset_key_map(); // frees every copied name: a leak would show
	return 0;
}
