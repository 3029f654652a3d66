// End-to-end harness; see harness.h.
#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "core/settings.h"
#include "daemon/signals.h"
#include "private_world.h"
#include "proc_watch.h"
#include "serial/frame_payload.h"
#include "text_file.h"
#include "wait_until.h"

namespace e2e {

namespace {

// Waits that scan /proc or files poll at this pace; waits on one counter
// poll at wait_until's own.
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
	return monotonic_ms();
}

void pause_ms(int ms)
{
	sleep_ms(ms);
}

std::string signal_text(int signal_number)
{
	std::string text = signal_message;
	return text.replace(text.find("%d"), 2, std::to_string(signal_number));
}

std::vector<uint8_t> frame_bytes(uint8_t header, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4)
{
	const serial_frame frame = make_frame(header, b1, b2, b3, b4);
	return std::vector<uint8_t>(frame.begin(), frame.end());
}

namespace {

std::vector<uint8_t> bytes_of(const serial_frame &frame)
{
	return std::vector<uint8_t>(frame.begin(), frame.end());
}

} // namespace

std::vector<uint8_t> key_frame(std::vector<uint8_t> codes)
{
	return bytes_of(make_keyboard_frame(codes));
}

std::vector<uint8_t> mouse_frame(uint8_t status, uint8_t dx, uint8_t dy)
{
	return bytes_of(make_mouse_frame_bytes(status, dx, dy));
}

std::vector<uint8_t> joystick_frame(uint8_t high, uint8_t low)
{
	return bytes_of(make_joystick_frame(static_cast<uint16_t>(high << 8 | low)));
}

std::string read_text(const std::string &path)
{
	std::string text;
	(void)read_whole_file(path.c_str(), text); // empty when it cannot be read
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

// The file after the "<" of a layout command: the layout it loads.
std::string layout_file(const char *command)
{
	const std::string text = command;
	return text.substr(text.find('<') + 2);
}

exit_result result_of(int status)
{
	return WIFEXITED(status) ? exit_result{true, WEXITSTATUS(status)}
				 : exit_result{false, WTERMSIG(status)};
}

} // namespace

const char *namespaces_unavailable()
{
	return world_unavailable();
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
	if (!prepare_world(root) || mkdir((root + "/bin").c_str(), 0755) != 0) {
		ADD_FAILURE() << "cannot prepare the daemon's world in " << root << ": "
			      << strerror(errno);
		return;
	}

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
	if (!getenv("PS2LINK_KEEP_E2E"))
		remove_world(root);
}

std::string daemon_run::dev(const std::string &name) const { return root + "/dev/" + name; }
std::string daemon_run::etc(const std::string &name) const { return root + "/etc/" + name; }
std::string daemon_run::opt(const std::string &name) const { return root + "/opt/" + name; }
std::string daemon_run::outside(const std::string &path) const { return root + path; }

void daemon_run::prepare()
{
	if (config.key_map) {
		const std::string path = outside(default_key_map);
		make_dirs(path.substr(0, path.rfind('/')));
		write_file(path, *config.key_map);
	}
	if (config.console_key_map)
		write_file(outside(console_key_map), *config.console_key_map);
	if (config.pointercal)
		write_file(outside(calibration_file), *config.pointercal);
	if (config.layouts) {
		write_file(outside(layout_file(load_console_layout)), "ps2\n");
		write_file(outside(layout_file(restore_builtin_layout)), "zeta\n");
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

	for (const output_device &d : output_devices()) {
		if (d.kind == device_kind::file) {
			write_file(outside(d.path), "");
		} else if (d.kind == device_kind::fifo) {
			mkfifo(outside(d.path).c_str(), 0644);
			if (config.fifo_readers)
				*d.reader = open(outside(d.path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
		write_file(outside(framebuffer_device), bytes);
	}
}

std::vector<daemon_run::output_device> daemon_run::output_devices()
{
	return {{keyboard_device, config.kbd, &kbd_reader, &kbd_seen_},
		{keypipe_device, config.keypipe, &keypipe_reader, &keypipe_seen_},
		{touch_device, config.ts, &ts_reader, &ts_seen_}};
}

daemon_run::output_device daemon_run::output_device_named(const std::string &name)
{
	for (const output_device &d : output_devices())
		if (d.path == "/dev/" + name)
			return d;
	ADD_FAILURE() << "no output device /dev/" << name;
	return {"", device_kind::absent, nullptr, nullptr};
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
	environment.insert(environment.end(), config.environment.begin(), config.environment.end());
	if (const char *ubsan = getenv("UBSAN_OPTIONS"))
		environment.push_back(std::string("UBSAN_OPTIONS=") + ubsan);
	if (config.screen || !config.failing_calls.empty())
		environment.push_back(std::string("LD_PRELOAD=") + PS2_FAKE_FB_PATH);
	environment.insert(environment.end(), config.failing_calls.begin(), config.failing_calls.end());
	std::string out = root + "/stdout", err = root + "/stderr";
	struct stat output{}; // made here for its inode; the child only truncates it
	if (config.journal_stream == "stdout" && close(creat(out.c_str(), 0644)) == 0 && stat(out.c_str(), &output) == 0)
		config.journal_stream = std::to_string(output.st_dev) + ":" + std::to_string(output.st_ino);
	if (!config.journal_stream.empty())
		environment.push_back("JOURNAL_STREAM=" + config.journal_stream);
	if (config.screen) {
		const fake_screen &s = *config.screen;
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
		if (const char *failed = enter_world(root)) {
			dprintf(2, "harness: %s: %s\n", failed, strerror(errno));
			_exit(121);
		}
		if (!config.working_directory.empty() && chdir(config.working_directory.c_str()) != 0) {
			dprintf(2, "harness: chdir %s: %s\n", config.working_directory.c_str(), strerror(errno));
			_exit(124);
		}
		// A test that is killed (a timeout) takes its daemon along.
		prctl(PR_SET_PDEATHSIG, SIGKILL);
		// A FIFO seen through the overlay is a pipe of its own, apart from
		// the one behind the upper layer's file that the test reads: bind the
		// upper file itself over the device path.
		for (const output_device &d : output_devices()) {
			if (d.kind == device_kind::fifo &&
			    mount(outside(d.path).c_str(), d.path.c_str(), nullptr, MS_BIND, nullptr) != 0) {
				dprintf(2, "harness: binding the FIFO %s: %s\n", d.path.c_str(), strerror(errno));
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
	return mark_ready();
}

namespace {

bool relink(const std::string &target, const std::string &link)
{
	std::string next = link + ".next";
	return symlink(target.c_str(), next.c_str()) == 0 && rename(next.c_str(), link.c_str()) == 0;
}

} // namespace

void daemon_run::unplug_line(const std::string &link)
{
	EXPECT_TRUE(relink(root + "/no-such-line", link));
	close(pty_master);
	pty_master = -1;
}

bool daemon_run::plug_new_line(const std::string &link, bool wait_ready)
{
	pty_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	if (pty_master < 0 || grantpt(pty_master) != 0 || unlockpt(pty_master) != 0)
		return false;
	pty_slave = ptsname(pty_master);
	if (!relink(pty_slave, link))
		return false;
	if (!wait_ready)
		return true;
	return mark_ready();
}

bool daemon_run::mark_ready()
{
	if (wait_reading() <= 0)
		return false;
	read_mark_ = bytes_read();
	sent_since_ready_ = 0;
	return read_mark_ >= 0;
}

int daemon_run::wait_reading(int timeout_ms)
{
	file_id line{};
	if (!file_id_of(pty_slave.c_str(), line))
		return -1;
	pid_t reader = 0;
	(void)wait_until(timeout_ms, [&] {
		reader = blocked_reader_of(line);
		// A daemon that has ended will never read: stop waiting for it.
		return reader > 0 || (started_process_ended() && !config_detaches());
	}, poll_step_ms);
	if (reader <= 0)
		return -1;
	daemon_pid = reader;
	return daemon_pid;
}

bool daemon_run::started_process_ended()
{
	int status = 0;
	if (!exited_ && pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
		exited_ = true;
		result_ = result_of(status);
	}
	return exited_;
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
	send(frame_bytes(header, b1, b2, b3, b4));
}

void daemon_run::send_key_frame(std::vector<uint8_t> codes)
{
	send(key_frame(std::move(codes)));
}

void daemon_run::send_mouse_frame(uint8_t status, uint8_t dx, uint8_t dy)
{
	send(mouse_frame(status, dx, dy));
}

void daemon_run::send_joystick_frame(uint8_t high, uint8_t low)
{
	send(joystick_frame(high, low));
}

long long daemon_run::bytes_read() const
{
	return bytes_read_by(daemon_pid);
}

bool daemon_run::wait_drained(int timeout_ms)
{
	if (read_mark_ < 0) {
		// Started without waiting: all that can be told is an empty input
		// queue with the daemon back in read().
		return wait_until(timeout_ms, [&] {
			int slave = open(pty_slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
			int queued = -1;
			if (slave >= 0) {
				ioctl(slave, FIONREAD, &queued);
				close(slave);
			}
			return queued == 0 && wait_reading(poll_step_ms * 4) > 0;
		}, poll_step_ms);
	}
	// A byte written on the adapter's side reaches the daemon's side a
	// moment later, so an empty input queue proves nothing. Once running,
	// the daemon reads nothing but the line: its byte count tells.
	return wait_taken(read_mark_ + sent_since_ready_, timeout_ms);
}

bool daemon_run::send_and_wait(const std::vector<uint8_t> &bytes, int timeout_ms)
{
	long long before = bytes_read();
	if (before < 0)
		return false;
	send(bytes);
	return wait_taken(before + static_cast<long long>(bytes.size()), timeout_ms);
}

bool daemon_run::wait_taken(long long total, int timeout_ms)
{
	const long long deadline = monotonic_ms() + timeout_ms;
	if (!wait_until(timeout_ms, [&] { return bytes_read() >= total; }))
		return false;
	return wait_reading(static_cast<int>(std::max(0LL, deadline - monotonic_ms()))) > 0;
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
	const output_device d = output_device_named(name);
	char buffer[4096];
	ssize_t got;
	while (d.reader && *d.reader >= 0 && (got = read(*d.reader, buffer, sizeof buffer)) > 0)
		d.seen->append(buffer, static_cast<std::size_t>(got));
	return d.seen ? *d.seen : std::string();
}

std::string daemon_run::device_text(const std::string &name)
{
	if (output_device_named(name).kind == device_kind::fifo)
		return fifo_buffer(name);
	return read_text(dev(name));
}

std::string daemon_run::wait_device_text(const std::string &name, std::size_t length,
					 int timeout_ms)
{
	std::string text;
	(void)wait_until(timeout_ms, [&] {
		text = device_text(name);
		return text.size() >= length;
	}, poll_step_ms);
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
	if (exited_ && daemon_pid == pid)
		return result_;
	exit_result result;
	const bool ended = wait_until(timeout_ms, [&] {
		for (;;) {
			int status = 0;
			pid_t done = waitpid(-1, &status, WNOHANG);
			if (done == 0)
				return false;
			if (done < 0) { // nothing left to wait for
				result = exited_ ? result_ : exit_result{};
				return true;
			}
			if (done == pid) {
				exited_ = true;
				result_ = result_of(status);
			}
			// With -b the daemon is the detached process; the one started
			// left through daemon() with status 0. Orphans of the daemon
			// (a layout command) may come by here too and are ignored.
			if (done == daemon_pid || (done == pid && !config_detaches())) {
				result = result_of(status);
				return true;
			}
		}
	}, poll_step_ms);
	if (!ended)
		kill_now();
	return result;
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
	file_id line{};
	if (file_id_of(pty_slave.c_str(), line)) {
		const file_holders found = holders_of(line);
		for (const file_holder &holder : listed(found))
			kill(holder.pid, SIGKILL);
	}
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
	int fd = open(outside(framebuffer_device).c_str(), O_RDONLY | O_CLOEXEC);
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
	int fd = open(outside(framebuffer_device).c_str(), O_WRONLY | O_CLOEXEC);
	if (fd >= 0) {
		(void)!pwrite(fd, bytes, 2, offset);
		close(fd);
	}
}

std::vector<uint8_t> daemon_run::framebuffer_bytes() const
{
	std::string bytes = read_text(outside(framebuffer_device));
	return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool daemon_run::in_syscall(std::initializer_list<long> numbers) const
{
	const pid_t process = daemon_pid > 0 ? daemon_pid : pid;
	char binary[PATH_MAX] = {};
	if (!realpath(PS2LINKD_PATH, binary) || view_of(executable_of(process)) != binary)
		return false;
	const call_snapshot call = current_call(process);
	return call.state == call_state::blocked &&
	       std::find(numbers.begin(), numbers.end(), call.number) != numbers.end();
}

bool daemon_run::wait_in_syscall(std::initializer_list<long> numbers, int timeout_ms)
{
	bool found = false;
	(void)wait_until(timeout_ms, [&] {
		found = in_syscall(numbers);
		return found || (started_process_ended() && !config_detaches());
	}, poll_step_ms);
	return found;
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
	const bool blocked = !batch.empty() && wait_until(timeout_ms, [&] {
		if (in_syscall({SYS_write}))
			return true;
		ssize_t wrote = write(pty_master, batch.data() + at, batch.size() - at);
		if (wrote > 0)
			at = (at + static_cast<std::size_t>(wrote)) % batch.size();
		return false;
	});
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
