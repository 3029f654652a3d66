// Watching other processes through /proc, to wait on conditions instead of
// guessing with sleeps.
//
// The adapter simulator must know when the daemon has opened and configured
// the serial line, and later when it has taken and handled every byte sent
// so far; a reader of a FIFO must be known to have taken every line. A
// single-threaded process that sits blocked in read() on a descriptor has
// finished with everything it read before, and /proc tells which call a
// blocked process is in (/proc/PID/syscall), which files its descriptors
// refer to (/proc/PID/fd, /proc/PID/fdinfo) and how many bytes it has read
// in all (/proc/PID/io). Reading these for another user's process needs root;
// one's own processes, also in a user namespace of one's own, can be read.
//
// Older kernels lack some of these files (the handheld's 2.6 kernels have
// no syscall, io, comm or fdinfo entries): each look-up then says what it
// can tell without them (a call state of gone, a count of -1, the command
// name from /proc/PID/stat, an access mode of -1), never more.
#pragma once

#include <sys/types.h>

#include <climits>
#include <span>

#include "fixed_text.h"

// A file as the kernel knows it, so that two paths or a path and an open
// descriptor can be compared whatever names lead to them.
struct file_id {
	dev_t dev = 0;
	ino_t ino = 0;
};

// One open descriptor of another process that refers to a watched file.
struct file_holder {
	pid_t pid = 0;
	int fd = -1;
	int access = 0; // O_RDONLY, O_WRONLY or O_RDWR, from /proc/PID/fdinfo; -1 unknown
};

// The descriptors found, up to a number no file of ours meets (a serial
// line has the daemon's two and a tool's); more says that some were left
// out, for a message that names the holders.
inline constexpr std::size_t file_holder_limit = 64;
struct file_holders {
	std::array<file_holder, file_holder_limit> holders{};
	std::size_t count = 0;
	bool more = false;
};

[[nodiscard]] inline std::span<const file_holder> listed(const file_holders &found)
{
	return std::span<const file_holder>(found.holders.data(), found.count);
}

[[nodiscard]] bool file_id_of(const char *path, file_id &id);
[[nodiscard]] bool file_id_of_fd(int fd, file_id &id);

// Every descriptor of every process other than this one that refers to the
// file. Processes that vanish during the scan are left out.
[[nodiscard]] file_holders holders_of(const file_id &id);

// The same for one process only.
[[nodiscard]] file_holders holders_in(pid_t pid, const file_id &id);

// What a process is doing, from /proc/PID/syscall.
enum class call_state {
	gone,    // the process no longer exists (or cannot be read)
	running, // on a CPU or about to be: not blocked in a call
	blocked, // blocked in the call given by number and first argument
};

struct call_snapshot {
	call_state state = call_state::gone;
	long number = -1;
	long first_argument = -1;
};

[[nodiscard]] call_snapshot current_call(pid_t pid);

// True when the process sits in a call that waits for input: read() and
// its relatives, or one of the poll family.
[[nodiscard]] bool waits_for_input(const call_snapshot &call);

// True when the call is read() itself or a relative that reads one
// descriptor given as its first argument.
[[nodiscard]] bool reads_directly(const call_snapshot &call);

// The "rchar" count of /proc/PID/io: bytes the process has received from
// read() and its relatives since it started; -1 when it cannot be read.
[[nodiscard]] long long bytes_read_by(pid_t pid);

// The "syscr" count of /proc/PID/io: read() calls and relatives made so
// far; -1 when it cannot be read.
[[nodiscard]] long long read_calls_by(pid_t pid);

// A process other than this one that sits in read() on one of its own
// descriptors of the file; 0 when there is none.
[[nodiscard]] pid_t blocked_reader_of(const file_id &id);

// The command name of a process (/proc/PID/comm, or where a kernel lacks
// it the name in /proc/PID/stat), for messages; "?" when it is gone.
using command_name = fixed_text<64>;
[[nodiscard]] command_name command_of(pid_t pid);

// The program a process runs (/proc/PID/exe); empty when it is gone.
using path_text = fixed_text<PATH_MAX + 1>;
[[nodiscard]] path_text executable_of(pid_t pid);

// How many descriptors of the process name the path (/proc/PID/fd links,
// which give the path the process opened; the link may be longer where the
// process lives in another mount namespace, and still ends in the path).
[[nodiscard]] int descriptors_named(pid_t pid, const char *path);

// Bytes of the process's memory mappings of the path (/proc/PID/maps, the
// path matched as above), in
// whole pages as the kernel lists them; -1 when the list cannot be read.
[[nodiscard]] long long mapped_bytes_of(pid_t pid, const char *path);
