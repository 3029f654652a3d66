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

void collect_holders(pid_t pid, const file_id &id, std::vector<file_holder> &found)
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
		int access = access_of(pid, fd);
		if (access == -1)
			continue;
		found.push_back(file_holder{pid, fd, access});
	}
	(void)closedir(dir);
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

} // namespace

bool file_id_of(const char *path, file_id &id)
{
	struct stat st {};
	if (stat(path, &st) == -1)
		return false;
	id.dev = st.st_dev;
	id.ino = st.st_ino;
	return true;
}

bool file_id_of_fd(int fd, file_id &id)
{
	struct stat st {};
	if (fstat(fd, &st) == -1)
		return false;
	id.dev = st.st_dev;
	id.ino = st.st_ino;
	return true;
}

std::vector<file_holder> holders_of(const file_id &id)
{
	std::vector<file_holder> found;
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

std::vector<file_holder> holders_in(pid_t pid, const file_id &id)
{
	std::vector<file_holder> found;
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
	char path[64];
	snprintf(path, sizeof path, "/proc/%d/io", static_cast<int>(pid));
	char text[512];
	if (!read_small_file(path, text, sizeof text))
		return -1;
	const char *rchar = strstr(text, "rchar:");
	if (!rchar)
		return -1;
	return strtoll(rchar + 6, nullptr, 10);
}

std::string command_of(pid_t pid)
{
	char path[64];
	snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
	char text[64];
	if (!read_small_file(path, text, sizeof text))
		return "?";
	text[strcspn(text, "\n")] = '\0';
	return text;
}
