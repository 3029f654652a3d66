// ps2world ROOT -- COMMAND [ARGUMENT...]
// ps2world --probe
//
// Runs the command in a world of its own at ROOT, an empty directory or one
// holding upper layers made beforehand (see private_world.h): /dev, /etc and
// /opt are overlays whose upper layers are ROOT/dev, ROOT/etc and ROOT/opt,
// so the daemon's fixed paths can be given stand-ins without touching the
// machine's own. Works as root and as a normal user. The command replaces
// this program, so its exit status is the one returned. --probe only tells
// whether this user may make a world here: status 0, or 1 with the reason
// (the same probe the end-to-end harness makes), for scripts that skip.
#include "private_world.h"
#include "tool_usage.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The world's directories are made in ROOT: a directory of its own, never
// one that holds something else. It may hold upper layers made beforehand
// (dev, etc, opt): what they hold lies on top of the machine's directories
// in the world. Files are best put there from outside: in a user namespace
// a directory that only the machine has (/etc/init.d) belongs to nobody
// inside the world, and nothing can be created in it there.
bool is_fresh_root(const char *path)
{
	DIR *dir = opendir(path);
	if (!dir)
		return false;
	bool fresh = true;
	while (dirent *entry = readdir(dir)) {
		const std::string name = entry->d_name;
		if (name != "." && name != ".." && name != "dev" && name != "etc" && name != "opt")
			fresh = false;
	}
	(void)closedir(dir);
	return fresh;
}

} // namespace

const char *const usage_text =
	"Usage: ps2world ROOT -- COMMAND [ARGUMENT...]\n"
	"       ps2world --probe\n"
	"ROOT: an empty directory, or one holding only the upper layers dev,\n"
	"etc and opt; an absolute path.\n";

int main(int argc, char **argv)
{
	if (argc == 2 && strcmp(argv[1], "--probe") == 0) {
		const char *why = world_unavailable();
		if (why)
			fprintf(stderr, "%s\n", why);
		return why ? 1 : 0;
	}
	if (argc == 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
		fputs(usage_text, stdout);
		return 0;
	}
	if (argc < 2)
		refuse_usage("ps2world", "ROOT, --, then the COMMAND are needed");
	if (argv[1][0] != '/')
		refuse_usage("ps2world", std::string("ROOT must be an absolute path: ") + argv[1]);
	if (argc < 3 || strcmp(argv[2], "--") != 0)
		refuse_usage("ps2world", "-- must follow ROOT");
	if (argc < 4)
		refuse_usage("ps2world", "no COMMAND after --");
	if (!is_fresh_root(argv[1])) {
		fprintf(stderr, "ps2world: %s holds more than dev, etc and opt\n", argv[1]);
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
