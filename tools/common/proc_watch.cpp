// Reading /proc for the waits of the tools; see proc_watch.h.
//
// Every file here may vanish between two reads (a process ends), so every
// failure simply means "not found" and the callers poll again.
#include "proc_watch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Reads a small /proc file whole into the buffer; false when it cannot.
bool read_small_file(const char *path, char *buffer, std::size_t size)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return false;
	ssize_t got = read(fd, buffer, size - 1);
	(void)close(fd); // a read-only /proc file: nothing to lose
	if (got < 0)
		return false;
	buffer[got] = '\0';
	return true;
}

bool is_number(const char *text)
{
	if (*text == '\0')
		return false;
	for (; *text; ++text)
		if (*text < '0' || *text > '9')
			return false;
	return true;
}

// The access mode of one descriptor, from the octal "flags:" line of fdinfo.
int access_of(pid_t pid, int fd)
{
	char path[64];
	snprintf(path, sizeof path, "/proc/%d/fdinfo/%d", static_cast<int>(pid), fd);
	char text[512];
	if (!read_small_file(path, text, sizeof text))
		return -1;
	const char *flags = strstr(text, "flags:");
	if (!flags)
		return -1;
	return static_cast<int>(strtol(flags + 6, nullptr, 8) & O_ACCMODE);
}

void collect_holders(pid_t pid, const file_id &id, file_holders &found)
{
	char dir_path[64];
	snprintf(dir_path, sizeof dir_path, "/proc/%d/fd", static_cast<int>(pid));
	DIR *dir = opendir(dir_path);
	if (!dir)
		return;
	while (dirent *entry = readdir(dir)) {
		if (!is_number(entry->d_name))
			continue;
		char link_path[sizeof dir_path + sizeof entry->d_name + 1];
		snprintf(link_path, sizeof link_path, "%s/%s", dir_path, entry->d_name);
		struct stat st {};
		if (stat(link_path, &st) == -1)
			continue;
		if (st.st_dev != id.dev || st.st_ino != id.ino)
			continue;
		int fd = atoi(entry->d_name);
		if (found.count == found.holders.size()) {
			found.more = true;
			continue;
		}
		// Without fdinfo (before Linux 2.6.22) the access is not known.
		found.holders[found.count++] = file_holder{pid, fd, access_of(pid, fd)};
	}
	(void)closedir(dir);
}

// Whether a path that /proc shows names the file: the path itself, or a
// longer one ending in it (a file of another mount namespace may be shown
// from a mount point of this one). Paths given are absolute, so the match
// starts at a name.
bool names_path(const char *shown, const char *path)
{
	std::size_t shown_length = strlen(shown), length = strlen(path);
	return shown_length >= length && strcmp(shown + shown_length - length, path) == 0;
}

// One counter of /proc/PID/io, named with its colon; -1 when unreadable.
long long io_count(pid_t pid, const char *name)
{
	char path[64];
	snprintf(path, sizeof path, "/proc/%d/io", static_cast<int>(pid));
	char text[512];
	if (!read_small_file(path, text, sizeof text))
		return -1;
	const char *count = strstr(text, name);
	if (!count)
		return -1;
	return strtoll(count + strlen(name), nullptr, 10);
}

// The calls that mean "waiting for input" on the platforms we build for;
// some of them exist only on some architectures.
constexpr std::array input_calls = {
	static_cast<long>(SYS_read),
	static_cast<long>(SYS_readv),
	static_cast<long>(SYS_pread64),
	static_cast<long>(SYS_ppoll),
	static_cast<long>(SYS_pselect6),
	static_cast<long>(SYS_epoll_pwait),
#ifdef SYS_poll
	static_cast<long>(SYS_poll),
#endif
#ifdef SYS_select
	static_cast<long>(SYS_select),
#endif
#ifdef SYS_epoll_wait
	static_cast<long>(SYS_epoll_wait),
#endif
};

// The identity in a stat result, when the call that filled it worked.
bool take_file_id(int result, const struct stat &st, file_id &id)
{
	if (result == -1)
		return false;
	id.dev = st.st_dev;
	id.ino = st.st_ino;
	return true;
}

} // namespace

bool file_id_of(const char *path, file_id &id)
{
	struct stat st {};
	return take_file_id(stat(path, &st), st, id);
}

bool file_id_of_fd(int fd, file_id &id)
{
	struct stat st {};
	return take_file_id(fstat(fd, &st), st, id);
}

file_holders holders_of(const file_id &id)
{
	file_holders found;
	DIR *proc = opendir("/proc");
	if (!proc)
		return found;
	const pid_t self = getpid();
	while (dirent *entry = readdir(proc)) {
		if (!is_number(entry->d_name))
			continue;
		pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
		if (pid != self)
			collect_holders(pid, id, found);
	}
	(void)closedir(proc);
	return found;
}

file_holders holders_in(pid_t pid, const file_id &id)
{
	file_holders found;
	collect_holders(pid, id, found);
	return found;
}

call_snapshot current_call(pid_t pid)
{
	char path[64];
	snprintf(path, sizeof path, "/proc/%d/syscall", static_cast<int>(pid));
	char text[256];
	call_snapshot call;
	if (!read_small_file(path, text, sizeof text))
		return call;
	// "running", or "-1 ..." outside any call, or "NR ARG1 ARG2 ..." in hex.
	if (strncmp(text, "running", 7) == 0) {
		call.state = call_state::running;
		return call;
	}
	char *end = nullptr;
	call.number = strtol(text, &end, 10);
	if (end == text || call.number < 0) {
		call.state = call_state::running;
		return call;
	}
	call.first_argument = strtol(end, nullptr, 16);
	call.state = call_state::blocked;
	return call;
}

bool reads_directly(const call_snapshot &call)
{
	return call.state == call_state::blocked &&
	       (call.number == SYS_read || call.number == SYS_readv || call.number == SYS_pread64);
}

bool waits_for_input(const call_snapshot &call)
{
	if (call.state != call_state::blocked)
		return false;
	for (long number : input_calls)
		if (call.number == number)
			return true;
	return false;
}

long long bytes_read_by(pid_t pid)
{
	return io_count(pid, "rchar:");
}

long long read_calls_by(pid_t pid)
{
	return io_count(pid, "syscr:");
}

pid_t blocked_reader_of(const file_id &id)
{
	const file_holders found = holders_of(id);
	for (const file_holder &holder : listed(found)) {
		call_snapshot call = current_call(holder.pid);
		if (reads_directly(call) && call.first_argument == holder.fd)
			return holder.pid;
	}
	return 0;
}

command_name command_of(pid_t pid)
{
	command_name name;
	char path[64];
	snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
	char text[512];
	if (read_small_file(path, text, sizeof text)) {
		append(name, std::string_view(text, strcspn(text, "\n")));
		return name;
	}
	// "PID (NAME) STATE ...": the name may hold blanks and parentheses, so
	// it ends at the last ')'. Linux has had this file from the start.
	snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
	const char *open_paren = nullptr;
	const char *close_paren = nullptr;
	if (read_small_file(path, text, sizeof text)) {
		open_paren = strchr(text, '(');
		close_paren = strrchr(text, ')');
	}
	if (!open_paren || !close_paren || close_paren < open_paren)
		append(name, "?");
	else
		append(name, std::string_view(open_paren + 1, static_cast<std::size_t>(close_paren - open_paren - 1)));
	return name;
}

path_text executable_of(pid_t pid)
{
	char path[64];
	snprintf(path, sizeof path, "/proc/%d/exe", static_cast<int>(pid));
	path_text target;
	ssize_t length = readlink(path, target.text.data(), target.text.size() - 1);
	if (length > 0)
		target.length = static_cast<std::size_t>(length);
	return target;
}

int descriptors_named(pid_t pid, const char *path)
{
	char dir_path[64];
	snprintf(dir_path, sizeof dir_path, "/proc/%d/fd", static_cast<int>(pid));
	DIR *dir = opendir(dir_path);
	if (!dir)
		return -1;
	int count = 0;
	while (dirent *entry = readdir(dir)) {
		if (!is_number(entry->d_name))
			continue;
		char link_path[sizeof dir_path + sizeof entry->d_name + 1];
		snprintf(link_path, sizeof link_path, "%s/%s", dir_path, entry->d_name);
		char target[PATH_MAX];
		ssize_t length = readlink(link_path, target, sizeof target - 1);
		if (length < 0)
			continue;
		target[length] = '\0';
		count += names_path(target, path);
	}
	(void)closedir(dir);
	return count;
}

long long mapped_bytes_of(pid_t pid, const char *path)
{
	char maps_path[64];
	snprintf(maps_path, sizeof maps_path, "/proc/%d/maps", static_cast<int>(pid));
	FILE *maps = fopen(maps_path, "re");
	if (!maps)
		return -1;
	long long total = 0;
	char line[PATH_MAX + 128];
	while (fgets(line, sizeof line, maps)) {
		// "start-end perms offset dev inode   path"
		unsigned long start = 0, end = 0;
		char *name = strchr(line, '/');
		if (!name || sscanf(line, "%lx-%lx", &start, &end) != 2)
			continue;
		name[strcspn(name, "\n")] = '\0';
		if (names_path(name, path))
			total += static_cast<long long>(end - start);
	}
	(void)fclose(maps);
	return total;
}
