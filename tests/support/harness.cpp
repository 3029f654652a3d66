// End-to-end harness; see harness.h.
#include "harness.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <utility>

namespace e2e {

namespace {

constexpr int poll_step_ms = 5;

void write_file(const std::string &path, const std::string &content)
{
	FILE *file = fopen(path.c_str(), "wb");
	if (!file) {
		ADD_FAILURE() << "cannot create " << path << ": " << strerror(errno);
		return;
	}
	fwrite(content.data(), 1, content.size(), file);
	fclose(file);
}

} // namespace

long long now_ms()
{
	timespec now{};
	clock_gettime(CLOCK_MONOTONIC, &now);
	return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

void pause_ms(int ms)
{
	timespec step{ms / 1000, (ms % 1000) * 1000000L};
	nanosleep(&step, nullptr);
}

std::string read_text(const std::string &path)
{
	std::string text;
	FILE *file = fopen(path.c_str(), "rb");
	if (!file)
		return text;
	char buffer[4096];
	std::size_t got;
	while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
		text.append(buffer, got);
	fclose(file);
	return text;
}

namespace {

void make_dirs(const std::string &path)
{
	for (std::size_t slash = 1; slash != std::string::npos;) {
		slash = path.find('/', slash + 1);
		mkdir(path.substr(0, slash).c_str(), 0755);
	}
}

int remove_entry(const char *path, const struct stat *, int, FTW *)
{
	return remove(path);
}

// Mounts the test's world over the fixed paths. Runs in the child after
// unshare(CLONE_NEWNS); returns a failure text or null.
const char *enter_world(const std::string &root)
{
	if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
		return "making / private";
	std::string pts = root + "/pts";
	if (mount("/dev/pts", pts.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
		return "binding /dev/pts";
	for (const char *top : {"dev", "etc", "opt"}) {
		std::string target = std::string("/") + top;
		std::string options = "lowerdir=" + target + ",upperdir=" + root + "/" + top +
				      ",workdir=" + root + "/" + top + ".work";
		if (mount("overlay", target.c_str(), "overlay", 0, options.c_str()) != 0)
			return "mounting an overlay";
	}
	if (mount(pts.c_str(), "/dev/pts", nullptr, MS_BIND | MS_REC, nullptr) != 0)
		return "binding the pseudo-terminals back";
	return nullptr;
}

const char *probe_namespaces()
{
	if (geteuid() != 0)
		return "end-to-end tests need root (private mount namespaces and overlays)";
	if (access("/opt", F_OK) != 0)
		return "end-to-end tests need an /opt directory to overlay";
	char root_template[] = "/tmp/ps2link-probe-XXXXXX";
	if (!mkdtemp(root_template))
		return "cannot create a temporary directory";
	std::string root = root_template;
	for (const char *dir : {"pts", "dev", "dev.work", "etc", "etc.work", "opt", "opt.work"})
		mkdir((root + "/" + dir).c_str(), 0755);
	pid_t child = fork();
	if (child == 0) {
		if (unshare(CLONE_NEWNS) != 0 || enter_world(root) != nullptr)
			_exit(1);
		_exit(0);
	}
	int status = 0;
	waitpid(child, &status, 0);
	nftw(root.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
	if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
		return "this machine refuses private mount namespaces or overlay mounts";
	return nullptr;
}

dev_t rdev_of(const std::string &path)
{
	struct stat info{};
	return stat(path.c_str(), &info) == 0 ? info.st_rdev : 0;
}

// Whether process pid is blocked in read() on a descriptor that is the
// device rdev. Returns false for a process that is running or gone.
bool reading_device(const std::string &pid, dev_t rdev)
{
	std::string fd_dir = "/proc/" + pid + "/fd";
	DIR *dir = opendir(fd_dir.c_str());
	if (!dir)
		return false;
	std::vector<long> fds;
	while (dirent *entry = readdir(dir)) {
		if (entry->d_name[0] == '.')
			continue;
		struct stat info{};
		std::string link = fd_dir + "/" + entry->d_name;
		if (stat(link.c_str(), &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == rdev)
			fds.push_back(strtol(entry->d_name, nullptr, 10));
	}
	closedir(dir);
	if (fds.empty())
		return false;
	std::string call = read_text("/proc/" + pid + "/syscall");
	long number = -1;
	unsigned long first = 0;
	if (sscanf(call.c_str(), "%ld %lx", &number, &first) != 2 || number != SYS_read)
		return false;
	for (long fd : fds)
		if (static_cast<unsigned long>(fd) == first)
			return true;
	return false;
}

// Kills every other process that has the device rdev open.
void kill_line_holders(dev_t rdev)
{
	DIR *proc = opendir("/proc");
	std::string self = std::to_string(getpid());
	while (dirent *entry = proc ? readdir(proc) : nullptr) {
		if (entry->d_name[0] < '1' || entry->d_name[0] > '9' || self == entry->d_name)
			continue;
		std::string fd_dir = std::string("/proc/") + entry->d_name + "/fd";
		DIR *fds = opendir(fd_dir.c_str());
		bool holds = false;
		while (dirent *fd = fds && !holds ? readdir(fds) : nullptr) {
			struct stat info{};
			std::string link = fd_dir + "/" + fd->d_name;
			holds = fd->d_name[0] != '.' && stat(link.c_str(), &info) == 0 &&
				S_ISCHR(info.st_mode) && info.st_rdev == rdev;
		}
		if (fds)
			closedir(fds);
		if (holds)
			kill(static_cast<pid_t>(strtol(entry->d_name, nullptr, 10)), SIGKILL);
	}
	if (proc)
		closedir(proc);
}

} // namespace

const char *namespaces_unavailable()
{
	static const char *why = probe_namespaces();
	return why;
}

std::string bytes_text(const std::vector<uint8_t> &bytes)
{
	return std::string(bytes.begin(), bytes.end());
}

daemon_run::daemon_run(daemon_config cfg) : config(std::move(cfg))
{
	// Detached daemons are re-parented to the test, so it can reap them.
	prctl(PR_SET_CHILD_SUBREAPER, 1);
	char root_template[] = "/tmp/ps2link-e2e-XXXXXX";
	if (!mkdtemp(root_template)) {
		ADD_FAILURE() << "mkdtemp: " << strerror(errno);
		return;
	}
	root = root_template;
	for (const char *dir : {"pts", "dev", "dev.work", "etc", "etc.work", "opt", "opt.work", "bin"})
		mkdir((root + "/" + dir).c_str(), 0755);

	pty_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	if (pty_master < 0 || grantpt(pty_master) != 0 || unlockpt(pty_master) != 0) {
		ADD_FAILURE() << "cannot open a pseudo-terminal";
		return;
	}
	pty_slave = ptsname(pty_master);
	prepare();
}

daemon_run::~daemon_run()
{
	kill_now();
	for (int fd : {pty_master, kbd_reader, keypipe_reader, ts_reader})
		if (fd >= 0)
			close(fd);
	if (!root.empty() && !getenv("PS2LINK_KEEP_E2E"))
		nftw(root.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string daemon_run::dev(const std::string &name) const { return root + "/dev/" + name; }
std::string daemon_run::etc(const std::string &name) const { return root + "/etc/" + name; }
std::string daemon_run::opt(const std::string &name) const { return root + "/opt/" + name; }

void daemon_run::prepare()
{
	if (config.key_map) {
		make_dirs(opt("Brindle/etc"));
		write_file(opt("Brindle/etc/ser_code_vantor.ini"), *config.key_map);
	}
	if (config.console_key_map)
		write_file(etc("ser_code_vantor_console.ini"), *config.console_key_map);
	if (config.pointercal)
		write_file(etc("pointercal"), *config.pointercal);
	if (config.layouts) {
		write_file(etc("ps2.kmap"), "ps2\n");
		write_file(etc("zeta.kmap"), "zeta\n");
	}
	// The stand-in for the platform's layout loader: one line per run, with
	// the layout that arrived on its standard input.
	std::string loadkmap = root + "/bin/loadkmap";
	write_file(loadkmap, "#!/bin/sh\nprintf 'loadkmap %s\\n' \"$(cat)\" >> '" + root +
				     "/loadkmap.log'\n");
	if (config.loadkmap_checks_line) {
		// A lock we can take ourselves means the daemon holds none.
		std::string script = read_text(loadkmap);
		write_file(loadkmap, script + "if flock -n -x '" + pty_slave +
					     "' true; then echo free; else echo held; fi >> '" + root +
					     "/line_lock.log'\n");
	}
	chmod(loadkmap.c_str(), 0755);

	struct device {
		const char *name;
		device_kind kind;
		int *reader;
	} const devices[] = {
		{"kbd", config.kbd, &kbd_reader},
		{"keypipe", config.keypipe, &keypipe_reader},
		{"ts", config.ts, &ts_reader},
	};
	for (const device &d : devices) {
		if (d.kind == device_kind::file) {
			write_file(dev(d.name), "");
		} else if (d.kind == device_kind::fifo) {
			mkfifo(dev(d.name).c_str(), 0644);
			if (config.fifo_readers)
				*d.reader = open(dev(d.name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
		}
	}
	if (config.screen) {
		const fake_screen &s = *config.screen;
		std::size_t length = s.smem_len + (s.smem_start & 0xFFF);
		std::string bytes(length, '\0');
		for (std::size_t i = 0; i + 1 < length; i += 2) {
			bytes[i] = static_cast<char>(s.background & 0xFF);
			bytes[i + 1] = static_cast<char>(s.background >> 8);
		}
		write_file(dev("fb0"), bytes);
	}
}

bool daemon_run::start()
{
	std::vector<std::string> arguments = {config.program_name};
	arguments.insert(arguments.end(), config.arguments.begin(), config.arguments.end());
	if (config.serial_option) {
		arguments.push_back("-p");
		arguments.push_back(pty_slave);
	}
	std::vector<std::string> environment = {"PATH=" + root + "/bin:/usr/bin:/bin"};
	std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
	environment.push_back("ASAN_OPTIONS=" + asan + (asan.empty() ? "" : ":") +
			      "verify_asan_link_order=0");
	if (const char *ubsan = getenv("UBSAN_OPTIONS"))
		environment.push_back(std::string("UBSAN_OPTIONS=") + ubsan);
	if (config.screen) {
		const fake_screen &s = *config.screen;
		environment.push_back(std::string("LD_PRELOAD=") + PS2_FAKE_FB_PATH);
		environment.push_back("FAKE_FB_SMEM_START=" + std::to_string(s.smem_start));
		environment.push_back("FAKE_FB_SMEM_LEN=" + std::to_string(s.smem_len));
		environment.push_back("FAKE_FB_LINE_LENGTH=" + std::to_string(s.line_length));
		if (!s.fail_request.empty())
			environment.push_back("FAKE_FB_FAIL=" + s.fail_request);
	}
	std::vector<char *> argv, envp;
	for (std::string &a : arguments)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	for (std::string &e : environment)
		envp.push_back(e.data());
	envp.push_back(nullptr);
	std::string out = root + "/stdout", err = root + "/stderr";

	fflush(nullptr);
	pid = fork();
	daemon_pid = pid;
	if (pid == 0) {
		int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		int null_fd = open("/dev/null", O_RDONLY);
		dup2(null_fd, 0);
		dup2(out_fd, 1);
		dup2(err_fd, 2);
		setpgid(0, 0);
		// The daemon starts as from a shell: a SIGPIPE that the test runner
		// ignores must not be inherited and hide a death by it.
		signal(SIGPIPE, SIG_DFL);
		// A test that is killed (a timeout) takes its daemon along.
		prctl(PR_SET_PDEATHSIG, SIGKILL);
		if (unshare(CLONE_NEWNS) != 0) {
			dprintf(2, "harness: unshare: %s\n", strerror(errno));
			_exit(120);
		}
		if (const char *failed = enter_world(root)) {
			dprintf(2, "harness: %s: %s\n", failed, strerror(errno));
			_exit(121);
		}
		// A FIFO seen through the overlay is a pipe of its own, apart from
		// the one behind the upper layer's file that the test reads: bind the
		// upper file itself over the device path.
		const std::pair<std::string, device_kind> fifos[] = {
			{"kbd", config.kbd}, {"keypipe", config.keypipe}, {"ts", config.ts}};
		for (const auto &[name, kind] : fifos) {
			if (kind == device_kind::fifo &&
			    mount(dev(name).c_str(), ("/dev/" + name).c_str(), nullptr, MS_BIND, nullptr) != 0) {
				dprintf(2, "harness: binding the FIFO /dev/%s: %s\n", name.c_str(), strerror(errno));
				_exit(123);
			}
		}
		execve(PS2LINKD_PATH, argv.data(), envp.data());
		dprintf(2, "harness: exec: %s\n", strerror(errno));
		_exit(122);
	}
	if (pid < 0)
		return false;
	if (!config.wait_ready)
		return true;
	if (wait_reading() <= 0)
		return false;
	read_mark_ = bytes_read();
	sent_since_ready_ = 0;
	return read_mark_ >= 0;
}

int daemon_run::wait_reading(int timeout_ms)
{
	dev_t rdev = rdev_of(pty_slave);
	long long deadline = now_ms() + timeout_ms;
	std::string self = std::to_string(getpid());
	do {
		DIR *proc = opendir("/proc");
		while (dirent *entry = proc ? readdir(proc) : nullptr) {
			if (entry->d_name[0] < '1' || entry->d_name[0] > '9' || self == entry->d_name)
				continue;
			if (reading_device(entry->d_name, rdev)) {
				daemon_pid = static_cast<int>(strtol(entry->d_name, nullptr, 10));
				closedir(proc);
				return daemon_pid;
			}
		}
		if (proc)
			closedir(proc);
		// A daemon that has ended will never read: stop waiting for it.
		if (!exited_ && pid > 0) {
			int status = 0;
			if (waitpid(pid, &status, WNOHANG) == pid) {
				exited_ = true;
				result_ = WIFEXITED(status) ? exit_result{true, WEXITSTATUS(status)}
							    : exit_result{false, WTERMSIG(status)};
				if (!config_detaches())
					return -1;
			}
		}
		pause_ms(poll_step_ms);
	} while (now_ms() < deadline);
	return -1;
}

void daemon_run::send(const std::vector<uint8_t> &bytes)
{
	sent_since_ready_ += static_cast<long long>(bytes.size());
	std::size_t done = 0;
	while (done < bytes.size()) {
		ssize_t wrote = write(pty_master, bytes.data() + done, bytes.size() - done);
		if (wrote < 0) {
			if (errno == EINTR)
				continue;
			if (errno == EAGAIN) {
				pause_ms(1);
				continue;
			}
			ADD_FAILURE() << "write to the serial line: " << strerror(errno);
			return;
		}
		done += static_cast<std::size_t>(wrote);
	}
}

void daemon_run::send_frame(uint8_t header, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4)
{
	uint8_t sum = static_cast<uint8_t>(b1 + b2 + b3 + b4);
	send({header, b1, b2, b3, b4, sum});
}

void daemon_run::send_key_frame(std::vector<uint8_t> codes)
{
	uint8_t count = static_cast<uint8_t>(codes.size());
	codes.resize(3, 0);
	send_frame('K', count, codes[0], codes[1], codes[2]);
}

void daemon_run::send_mouse_frame(uint8_t status, uint8_t dx, uint8_t dy)
{
	send_frame('M', 0, status, dx, dy);
}

void daemon_run::send_joystick_frame(uint8_t high, uint8_t low)
{
	send_frame('J', 0, high, low, 0);
}

long long daemon_run::bytes_read() const
{
	std::string io = read_text("/proc/" + std::to_string(daemon_pid) + "/io");
	std::size_t at = io.find("rchar: ");
	return at == std::string::npos ? -1 : strtoll(io.c_str() + at + 7, nullptr, 10);
}

bool daemon_run::wait_drained(int timeout_ms)
{
	long long deadline = now_ms() + timeout_ms;
	if (read_mark_ < 0) {
		// Started without waiting: all that can be told is an empty input
		// queue with the daemon back in read().
		do {
			int slave = open(pty_slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
			int queued = -1;
			if (slave >= 0) {
				ioctl(slave, FIONREAD, &queued);
				close(slave);
			}
			if (queued == 0 && wait_reading(poll_step_ms * 4) > 0)
				return true;
			pause_ms(poll_step_ms);
		} while (now_ms() < deadline);
		return false;
	}
	// A byte written on the adapter's side reaches the daemon's side a
	// moment later, so an empty input queue proves nothing. Once running,
	// the daemon reads nothing but the line: its byte count tells.
	while (bytes_read() < read_mark_ + sent_since_ready_) {
		if (now_ms() >= deadline)
			return false;
		pause_ms(1);
	}
	return wait_reading(static_cast<int>(std::max(0LL, deadline - now_ms()))) > 0;
}

bool daemon_run::send_and_wait(const std::vector<uint8_t> &bytes, int timeout_ms)
{
	long long before = bytes_read();
	if (before < 0)
		return false;
	send(bytes);
	long long deadline = now_ms() + timeout_ms;
	while (bytes_read() < before + static_cast<long long>(bytes.size())) {
		if (now_ms() >= deadline)
			return false;
		pause_ms(1);
	}
	return wait_reading(static_cast<int>(std::max(0LL, deadline - now_ms()))) > 0;
}

std::vector<uint8_t> daemon_run::read_adapter(std::size_t count, int timeout_ms)
{
	std::vector<uint8_t> bytes;
	long long deadline = now_ms() + timeout_ms;
	while (bytes.size() < count) {
		long long left = deadline - now_ms();
		if (left <= 0)
			break;
		pollfd p{pty_master, POLLIN, 0};
		if (poll(&p, 1, static_cast<int>(left)) <= 0)
			break;
		if (!(p.revents & POLLIN))
			break;
		uint8_t buffer[256];
		ssize_t got = read(pty_master, buffer, std::min(sizeof buffer, count - bytes.size()));
		if (got <= 0)
			break;
		bytes.insert(bytes.end(), buffer, buffer + got);
	}
	return bytes;
}

std::vector<uint8_t> daemon_run::read_adapter_pending()
{
	std::vector<uint8_t> bytes;
	for (;;) {
		pollfd p{pty_master, POLLIN, 0};
		if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN))
			return bytes;
		uint8_t buffer[256];
		ssize_t got = read(pty_master, buffer, sizeof buffer);
		if (got <= 0)
			return bytes;
		bytes.insert(bytes.end(), buffer, buffer + got);
	}
}

std::string daemon_run::fifo_buffer(const std::string &name)
{
	int reader = name == "kbd" ? kbd_reader : name == "keypipe" ? keypipe_reader : ts_reader;
	std::string &seen = name == "kbd" ? kbd_seen_ : name == "keypipe" ? keypipe_seen_ : ts_seen_;
	char buffer[4096];
	ssize_t got;
	while (reader >= 0 && (got = read(reader, buffer, sizeof buffer)) > 0)
		seen.append(buffer, static_cast<std::size_t>(got));
	return seen;
}

std::string daemon_run::device_text(const std::string &name)
{
	device_kind kind = name == "kbd" ? config.kbd : name == "keypipe" ? config.keypipe : config.ts;
	if (kind == device_kind::fifo)
		return fifo_buffer(name);
	return read_text(dev(name));
}

std::string daemon_run::wait_device_text(const std::string &name, std::size_t length,
					 int timeout_ms)
{
	long long deadline = now_ms() + timeout_ms;
	std::string text = device_text(name);
	while (text.size() < length && now_ms() < deadline) {
		pause_ms(poll_step_ms);
		text = device_text(name);
	}
	return text;
}

std::string daemon_run::stdout_text() const { return read_text(root + "/stdout"); }
std::string daemon_run::stderr_text() const { return read_text(root + "/stderr"); }
std::string daemon_run::loadkmap_log() const { return read_text(root + "/loadkmap.log"); }

exit_result daemon_run::stop(int signal_number, int timeout_ms)
{
	kill(daemon_pid > 0 ? daemon_pid : pid, signal_number);
	return wait_exit(timeout_ms);
}

exit_result daemon_run::wait_exit(int timeout_ms)
{
	long long deadline = now_ms() + timeout_ms;
	if (exited_ && daemon_pid == pid)
		return result_;
	for (;;) {
		int status = 0;
		pid_t done = waitpid(-1, &status, WNOHANG);
		if (done > 0) {
			exit_result result = WIFEXITED(status) ? exit_result{true, WEXITSTATUS(status)}
							       : exit_result{false, WTERMSIG(status)};
			if (done == pid) {
				exited_ = true;
				result_ = result;
			}
			// With -b the daemon is the detached process; the one started
			// left through daemon() with status 0. Orphans of the daemon
			// (a layout command) may come by here too and are ignored.
			if (done == daemon_pid || (done == pid && !config_detaches()))
				return result;
			continue;
		}
		if (done < 0) // nothing left to wait for
			return exited_ ? result_ : exit_result{};
		if (now_ms() >= deadline) {
			kill_now();
			return exit_result{};
		}
		pause_ms(poll_step_ms);
	}
}

bool daemon_run::config_detaches() const
{
	for (const std::string &a : config.arguments)
		if (a.size() > 1 && a[0] == '-' && a.find('b') != std::string::npos)
			return true;
	return false;
}

void daemon_run::kill_now()
{
	if (pid <= 0)
		return;
	kill(-pid, SIGKILL);
	kill(pid, SIGKILL);
	if (daemon_pid > 0 && daemon_pid != pid)
		kill(daemon_pid, SIGKILL);
	// A daemon that detached before the test saw it still holds the line.
	kill_line_holders(rdev_of(pty_slave));
	if (!exited_)
		waitpid(pid, nullptr, 0);
	if (daemon_pid > 0 && daemon_pid != pid)
		waitpid(daemon_pid, nullptr, 0);
	while (waitpid(-1, nullptr, WNOHANG) > 0) {
	}
	pid = -1;
}

uint16_t daemon_run::pixel(int column, int row) const
{
	const fake_screen &s = *config.screen;
	off_t offset = static_cast<off_t>((s.smem_start & 0xFFF) + 2 * column + row * s.line_length);
	uint8_t bytes[2] = {0, 0};
	int fd = open(dev("fb0").c_str(), O_RDONLY | O_CLOEXEC);
	if (fd >= 0) {
		(void)!pread(fd, bytes, 2, offset);
		close(fd);
	}
	return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

void daemon_run::set_pixel(int column, int row, uint16_t value)
{
	const fake_screen &s = *config.screen;
	off_t offset = static_cast<off_t>((s.smem_start & 0xFFF) + 2 * column + row * s.line_length);
	uint8_t bytes[2] = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
	int fd = open(dev("fb0").c_str(), O_WRONLY | O_CLOEXEC);
	if (fd >= 0) {
		(void)!pwrite(fd, bytes, 2, offset);
		close(fd);
	}
}

std::vector<uint8_t> daemon_run::framebuffer_bytes() const
{
	std::string bytes = read_text(dev("fb0"));
	return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool daemon_run::in_syscall(std::initializer_list<long> numbers) const
{
	std::string process = "/proc/" + std::to_string(daemon_pid > 0 ? daemon_pid : pid);
	char exe[PATH_MAX] = {};
	char binary[PATH_MAX] = {};
	if (readlink((process + "/exe").c_str(), exe, sizeof exe - 1) < 0 ||
	    !realpath(PS2LINKD_PATH, binary) || strcmp(exe, binary) != 0)
		return false;
	// "running" while on a processor; the call's number while asleep in it.
	long number = -1;
	if (sscanf(read_text(process + "/syscall").c_str(), "%ld", &number) != 1)
		return false;
	for (long wanted : numbers)
		if (number == wanted)
			return true;
	return false;
}

bool daemon_run::wait_in_syscall(std::initializer_list<long> numbers, int timeout_ms)
{
	long long deadline = now_ms() + timeout_ms;
	do {
		if (in_syscall(numbers))
			return true;
		if (!exited_ && pid > 0 && !config_detaches()) {
			int status = 0;
			if (waitpid(pid, &status, WNOHANG) == pid) {
				exited_ = true;
				result_ = WIFEXITED(status) ? exit_result{true, WEXITSTATUS(status)}
							    : exit_result{false, WTERMSIG(status)};
				return false;
			}
		}
		pause_ms(poll_step_ms);
	} while (now_ms() < deadline);
	return false;
}

bool daemon_run::send_until_blocked_writing(const std::vector<uint8_t> &frames, int timeout_ms)
{
	// About a kilobyte of whole cycles at a time, written without waiting:
	// once the daemon is stuck the line fills up as well, and a blocking
	// write would hold the test.
	std::vector<uint8_t> batch;
	while (!frames.empty() && batch.size() < 1024)
		batch.insert(batch.end(), frames.begin(), frames.end());
	int flags = fcntl(pty_master, F_GETFL);
	fcntl(pty_master, F_SETFL, flags | O_NONBLOCK);
	std::size_t at = 0;
	bool blocked = false;
	long long deadline = now_ms() + timeout_ms;
	while (!batch.empty() && !(blocked = in_syscall({SYS_write})) && now_ms() < deadline) {
		ssize_t wrote = write(pty_master, batch.data() + at, batch.size() - at);
		if (wrote > 0)
			at = (at + static_cast<std::size_t>(wrote)) % batch.size();
		else
			pause_ms(1);
	}
	fcntl(pty_master, F_SETFL, flags);
	return blocked;
}

std::string daemon_run::line_lock_log() const { return read_text(root + "/line_lock.log"); }

exit_result run_to_end(daemon_run &run, int timeout_ms)
{
	run.config.wait_ready = false;
	if (!run.start())
		return exit_result{};
	return run.wait_exit(timeout_ms);
}

} // namespace e2e
