// ps2world ROOT -- COMMAND [ARGUMENT...]
// ps2world --probe
//
// Runs the command in a world of its own at ROOT, an empty directory, one
// holding upper layers made beforehand, or one used before (see
// private_world.h): /dev, /etc and /opt are overlays whose upper layers are
// ROOT/dev, ROOT/etc and ROOT/opt, so the daemon's fixed paths can be given stand-ins without touching the
// machine's own. Works as root and as a normal user. The command replaces
// this program, so its exit status is the one returned. --probe only tells
// whether this user may make a world here: status 0, or 1 with the reason
// (the same probe the end-to-end harness makes), for scripts that skip.
#include "checked_output.h"
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
// inside the world, and nothing can be created in it there. What an earlier
// world left in ROOT (the overlays' work directories, the mount points, a
// normal user's device layer, the log socket) lets it be used again.
constexpr const char *world_entries[] = {
	".", "..", "dev", "etc", "opt", "dev.work", "etc.work", "opt.work",
	"pts", "dev.lower", "host.dev", "log.socket",
};

// Empty when ROOT may be used; otherwise what is wrong with it.
std::string root_problem(const char *path)
{
	DIR *dir = opendir(path);
	if (!dir) {
		if (errno == ENOENT)
			return std::string(path) + " does not exist: make it first (an empty directory)";
		if (errno == ENOTDIR)
			return std::string(path) + " is not a directory";
		return std::string("cannot read ") + path + ": " + strerror(errno);
	}
	std::string problem;
	while (dirent *entry = readdir(dir)) {
		bool known = false;
		for (const char *name : world_entries)
			known = known || strcmp(entry->d_name, name) == 0;
		if (!known && problem.empty())
			problem = std::string(path) + " holds " + entry->d_name +
				  ": a world's directory holds only dev, etc, opt and what ps2world "
				  "made there before";
	}
	(void)closedir(dir);
	return problem;
}

} // namespace

const char *const usage_text =
	"Usage: ps2world ROOT -- COMMAND [ARGUMENT...]\n"
	"       ps2world --probe\n"
	"ROOT: an empty directory, or one holding only the upper layers dev,\n"
	"etc and opt, or one that ps2world used before; an absolute path.\n";

int main(int argc, char **argv)
{
	check_standard_output_at_exit("ps2world");
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
	if (const std::string problem = root_problem(argv[1]); !problem.empty()) {
		fprintf(stderr, "ps2world: %s\n", problem.c_str());
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
