// Making the private world; see private_world.h.
#include "private_world.h"

#include <fcntl.h>
#include <ftw.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The directories laid over, each with its upper layer ROOT/NAME and the
// overlay's work directory ROOT/NAME.work.
struct layered_dir {
	const char *name;
	const char *failure; // the step, when its overlay is refused
};
constexpr layered_dir layered[] = {
	{"dev", "mounting the overlay on /dev"},
	{"etc", "mounting the overlay on /etc"},
	{"opt", "mounting the overlay on /opt"},
};

// What a normal user's /dev holds besides the stand-ins: name and target.
// Null target: the machine's device of that name, in ROOT/host.dev. (The
// pseudo-terminal multiplexer finds its terminals in the "pts" next to it,
// so devices are reached through the whole of the machine's /dev, not one
// by one.)
struct device_link {
	const char *name;
	const char *target;
};
constexpr device_link device_links[] = {
	{"null", nullptr},   {"zero", nullptr},          {"full", nullptr},
	{"random", nullptr}, {"urandom", nullptr},       {"tty", nullptr},
	{"ptmx", nullptr},   {"fd", "/proc/self/fd"},    {"stdin", "/proc/self/fd/0"},
	{"stdout", "/proc/self/fd/1"}, {"stderr", "/proc/self/fd/2"},
};

bool make_dir(const std::string &path)
{
	return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool write_whole(const char *path, const std::string &text)
{
	int fd = open(path, O_WRONLY | O_CLOEXEC);
	if (fd == -1)
		return false;
	bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
	int saved = errno;
	(void)close(fd);
	errno = saved;
	return whole;
}

// A user namespace in which this user is root, with a mount namespace.
const char *become_namespace_root()
{
	const std::string uid = std::to_string(getuid());
	const std::string gid = std::to_string(getgid());
	if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
		return "unshare(CLONE_NEWUSER | CLONE_NEWNS)";
	if (!write_whole("/proc/self/setgroups", "deny"))
		return "writing /proc/self/setgroups";
	if (!write_whole("/proc/self/uid_map", "0 " + uid + " 1"))
		return "writing /proc/self/uid_map";
	if (!write_whole("/proc/self/gid_map", "0 " + gid + " 1"))
		return "writing /proc/self/gid_map";
	return nullptr;
}

// ROOT/dev.lower for a normal user; see private_world.h.
const char *make_device_layer(const std::string &root)
{
	const std::string lower = root + "/dev.lower";
	if (!make_dir(lower) || !make_dir(lower + "/pts") || !make_dir(root + "/host.dev"))
		return "creating the device layer";
	for (const device_link &link : device_links) {
		std::string target = link.target ? link.target : root + "/host.dev/" + link.name;
		if (symlink(target.c_str(), (lower + "/" + link.name).c_str()) != 0 && errno != EEXIST)
			return "linking a device into the device layer";
	}
	if (mount("/dev", (root + "/host.dev").c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
		return "binding the machine's /dev";
	return nullptr;
}

int remove_entry(const char *path, const struct stat *, int, FTW *)
{
	return remove(path);
}

std::string probe_world()
{
	char root_template[] = "/tmp/ps2link-probe-XXXXXX";
	if (!mkdtemp(root_template))
		return std::string("cannot create a scratch directory: ") + strerror(errno);
	const std::string root = root_template;
	int report[2];
	if (!prepare_world(root) || pipe(report) != 0) {
		std::string why = std::string("cannot prepare a scratch world: ") + strerror(errno);
		remove_world(root);
		return why;
	}
	pid_t child = fork();
	if (child == 0) {
		(void)close(report[0]);
		const char *failed = enter_world(root);
		if (failed)
			dprintf(report[1], "%s: %s", failed, strerror(errno));
		_exit(failed ? 1 : 0);
	}
	(void)close(report[1]);
	char text[256] = {};
	ssize_t got = child > 0 ? read(report[0], text, sizeof text - 1) : -1;
	(void)close(report[0]);
	int status = 0;
	if (child > 0)
		(void)waitpid(child, &status, 0);
	remove_world(root);
	if (child < 0)
		return std::string("cannot fork: ") + strerror(errno);
	if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
		return {};
	std::string who = geteuid() == 0 ? "as root" : "as a normal user";
	return "a private mount namespace is refused " + who + ": " +
	       (got > 0 ? std::string(text) : "the probe died") +
	       "; to run these tests, run as root or allow unprivileged user namespaces"
	       " (sysctl kernel.unprivileged_userns_clone=1, user.max_user_namespaces > 0)";
}

} // namespace

bool prepare_world(const std::string &root)
{
	if (!make_dir(root + "/pts"))
		return false;
	for (const layered_dir &top : layered)
		if (!make_dir(root + "/" + top.name) || !make_dir(root + "/" + top.name + ".work"))
			return false;
	return true;
}

const char *enter_world(const std::string &root)
{
	const bool as_root = geteuid() == 0;
	if (as_root) {
		if (unshare(CLONE_NEWNS) != 0)
			return "unshare(CLONE_NEWNS)";
	} else if (const char *failed = become_namespace_root()) {
		return failed;
	}
	// Nothing mounted from here on may reach the machine's namespace.
	if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
		return "making / private";
	// The overlay over /dev hides the pseudo-terminals' file system: keep a
	// second mount of it to put back on top.
	const std::string pts = root + "/pts";
	if (mount("/dev/pts", pts.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
		return "binding /dev/pts";
	if (!as_root)
		if (const char *failed = make_device_layer(root))
			return failed;
	for (const layered_dir &top : layered) {
		std::string target = std::string("/") + top.name;
		std::string lower = !as_root && target == "/dev" ? root + "/dev.lower" : target;
		std::string upper = root + "/" + top.name;
		std::string options = "lowerdir=" + lower + ",upperdir=" + upper + ",workdir=" + upper +
				      ".work";
		// In a user namespace the overlay keeps its own records in "user."
		// attributes: "trusted." ones need the machine's root.
		if (!as_root)
			options += ",userxattr";
		if (mount("overlay", target.c_str(), "overlay", 0, options.c_str()) != 0)
			return top.failure;
	}
	if (mount(pts.c_str(), "/dev/pts", nullptr, MS_BIND | MS_REC, nullptr) != 0)
		return "binding the pseudo-terminals back";
	// A machine without the multiplexer node uses the one of /dev/pts.
	if (access("/dev/ptmx", F_OK) != 0 && symlink("pts/ptmx", "/dev/ptmx") != 0)
		return "linking /dev/ptmx";
	// A program in here must never make input devices on the machine: its
	// uinput nodes are hidden (the overlay keeps a whiteout in the upper
	// layer), so every run sees a machine without uinput.
	for (const char *node : {"/dev/uinput", "/dev/input/uinput"})
		if (unlink(node) != 0 && errno != ENOENT)
			return "hiding the machine's uinput";
	return nullptr;
}

const char *world_unavailable()
{
	static const std::string why = probe_world();
	return why.empty() ? nullptr : why.c_str();
}

void remove_world(const std::string &root)
{
	if (!root.empty())
		(void)nftw(root.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}
