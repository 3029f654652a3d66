// ps2world ROOT -- COMMAND [ARGUMENT...]
//
// Runs the command in a world of its own at ROOT, an empty directory (see
// private_world.h): /dev, /etc and /opt are overlays whose upper layers are
// ROOT/dev, ROOT/etc and ROOT/opt, so the daemon's fixed paths can be given
// stand-ins without touching the machine's own. Works as root and as a normal user. The
// command replaces this program, so its exit status is the one returned.
#include "private_world.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The world's directories are made in ROOT: a directory of its own, never
// one that holds something else.
bool is_empty_directory(const char *path)
{
	DIR *dir = opendir(path);
	if (!dir)
		return false;
	int entries = 0;
	while (readdir(dir))
		++entries;
	(void)closedir(dir);
	return entries == 2; // "." and ".."
}

} // namespace

int main(int argc, char **argv)
{
	if (argc < 4 || strcmp(argv[2], "--") != 0 || argv[1][0] != '/') {
		fprintf(stderr, "Usage: ps2world ROOT -- COMMAND [ARGUMENT...]\n"
				"ROOT: an empty directory, given as an absolute path.\n");
		return 2;
	}
	if (!is_empty_directory(argv[1])) {
		fprintf(stderr, "ps2world: %s is not an empty directory\n", argv[1]);
		return 1;
	}
	const std::string root = argv[1];
	if (!prepare_world(root)) {
		fprintf(stderr, "ps2world: cannot prepare %s: %s\n", root.c_str(), strerror(errno));
		return 1;
	}
	if (const char *failed = enter_world(root)) {
		fprintf(stderr, "ps2world: %s: %s\n", failed, strerror(errno));
		return 1;
	}
	execvp(argv[3], argv + 3);
	fprintf(stderr, "ps2world: cannot run %s: %s\n", argv[3], strerror(errno));
	return 127;
}
