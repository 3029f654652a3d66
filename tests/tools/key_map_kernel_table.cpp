// Holds key maps to Linux's set-2 table (etc/keymap/set2_keys.txt): loaded
// by the daemon's own loader, every key of the table must send the
// driver's key code under all 16 modifier combinations, "NumLock" and
// "Caps" must sit on the lock keys, and no slot may hold anything else.
//
//   key_map_kernel_table SET2_KEYS MAP...
#include <cstdio>
#include <cstring>
#include <set>
#include <tuple>

#include "keyboard/key_map.h"

namespace {

// The daemon looks the Pause key's E1 sequence up as E0 80; the driver
// lets it land on E0 77.
constexpr unsigned pause_landing = 0x77;
constexpr unsigned pause_slot = 0x80;

int failures = 0;

void fail(const char *map, const char *what, std::size_t prefix, unsigned code,
	  unsigned combination)
{
	++failures;
	printf("%s: %s%02X under combination %u: %s\n", map, prefix ? "E0" : "", code, combination,
	       what);
}

void check_map(const char *map, const std::set<std::tuple<std::size_t, unsigned, unsigned>> &keys,
	       const std::set<std::pair<std::size_t, unsigned>> &lock_keys)
{
	reset_key_map();
	if (load_key_map(map) != 0)
		return fail(map, "cannot open", 0, 0, 0);
	for (unsigned combination = 0; combination < modifier_combinations; ++combination)
		for (unsigned code = 0; code < scan_code_count; ++code)
			for (std::size_t prefix = 0; prefix < prefix_index_count; ++prefix) {
				const key_entry &slot = key_tables.key_table[combination][code][prefix];
				bool lock = lock_keys.count({prefix, code}) != 0;
				if (!slot.name)
					continue;
				if (!keys.count({prefix, code, slot.value}))
					fail(map, "not the driver's key code", prefix, code, combination);
				if (lock != (!strcmp(slot.name, "NumLock") || !strcmp(slot.name, "Caps")))
					fail(map, "light names belong on the lock keys", prefix, code,
					     combination);
			}
	for (const auto &[prefix, code, key_code] : keys)
		for (unsigned combination = 0; combination < modifier_combinations; ++combination)
			if (!key_tables.key_table[combination][code][prefix].name)
				fail(map, "empty", prefix, code, combination);
}

} // namespace

int main(int argc, char **argv)
{
	if (argc < 3) {
		fprintf(stderr, "usage: %s SET2_KEYS MAP...\n", argv[0]);
		return 2;
	}
	FILE *table = fopen(argv[1], "r");
	if (!table)
		return 2;
	std::set<std::tuple<std::size_t, unsigned, unsigned>> keys;
	std::set<std::pair<std::size_t, unsigned>> lock_keys;
	char line[200];
	while (fgets(line, sizeof line, table)) {
		char prefix[8];
		char linux_name[64];
		unsigned code = 0;
		unsigned key_code = 0;
		if (line[0] == '#' ||
		    sscanf(line, "%7s %x %u %63s", prefix, &code, &key_code, linux_name) != 4)
			continue;
		std::size_t prefix_index = strcmp(prefix, "E0") == 0 ? 1 : 0;
		keys.emplace(prefix_index, code, key_code);
		if (prefix_index == 1 && code == pause_landing)
			keys.emplace(1, pause_slot, key_code);
		if (strcmp(linux_name, "KEY_NUMLOCK") == 0 || strcmp(linux_name, "KEY_CAPSLOCK") == 0)
			lock_keys.emplace(prefix_index, code);
	}
	fclose(table);
	if (keys.size() < 100 || lock_keys.size() != 2)
		return 2; // the table was not read as it should be
	for (int i = 2; i < argc; ++i)
		check_map(argv[i], keys, lock_keys);
	reset_key_map();
	return failures == 0 ? 0 : 1;
}
