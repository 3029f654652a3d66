// Start-up, command line and serial line of the real daemon.
//
// The daemon is driven as a user and the adapter would drive it: through its
// arguments, a pseudo-terminal as the serial line and the device files it
// writes. These tests check what can be seen from outside: exit statuses and
// exact messages, the line settings read back from the terminal, adapter
// commands, key events, and files that must not appear.
#include "harness.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "core/settings.h"
#include "daemon/frame_loop.h"
#include "daemon/options.h"
#include "daemon/startup.h"
#include "output/uinput.h"
#include "pointer/calibration.h"
#include "serial/serial_line.h"
#include "proc_watch.h"
#include "wait_until.h"

namespace {

using e2e::daemon_config;
using e2e::daemon_run;
using e2e::now_ms;
using e2e::pause_ms;
using e2e::read_text;
using e2e::device_kind;
using e2e::exit_result;
using bytes = std::vector<uint8_t>;
using run_list = std::vector<std::unique_ptr<daemon_run>>;

constexpr const char *hint_text = usage_hint;
// The texts with the program name the tests run the daemon as.
const std::string usage_with_name = std::string("Usage: ps2link-test [OPTION]\n") + usage_text;
const std::string version_text = std::string("ps2link-test version ") + program_version + "\n";
// argv[0] with a directory: the texts name the program by its base name.
constexpr const char program_path[] = "/usr/local/sbin/ps2link-test";

// The key event of the harness's minimal key map ("1c a - 1e").
constexpr const char key_down[] = " 30 1 \n";
constexpr const char *checksum_error = checksum_error_message;
// The frame that presses that key.
const bytes key_press = e2e::key_frame({0x1C});

bool exists(const std::string &path)
{
	struct stat info{};
	return lstat(path.c_str(), &info) == 0;
}

std::size_t count_of(const std::string &text, const std::string &piece)
{
	std::size_t count = 0;
	for (std::size_t at = text.find(piece); at != std::string::npos;
	     at = text.find(piece, at + piece.size()))
		++count;
	return count;
}

// Messages go to standard output; standard error carries nothing but the
// screen set-up's warnings about the calibration file (none here).
bool calibration_warnings_only(const std::string &text)
{
	std::size_t line = 0;
	while (line < text.size()) {
		std::size_t end = text.find('\n', line);
		if (end == std::string::npos || text.compare(line, 9, "Warning: ") != 0)
			return false;
		line = end + 1;
	}
	return true;
}

// Names in one upper layer of the daemon's world: what it created there.
std::vector<std::string> upper_layer(const daemon_run &run, const char *top)
{
	std::vector<std::string> names;
	DIR *dir = opendir((run.root + "/" + top).c_str());
	while (dirent *entry = dir ? readdir(dir) : nullptr)
		if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
			names.push_back(entry->d_name);
	if (dir)
		closedir(dir);
	std::sort(names.begin(), names.end());
	return names;
}

// The line's settings as the terminal holds them; the master side reports
// the settings of its slave, which is where the daemon wrote them.
termios line_settings(const daemon_run &run)
{
	termios settings{};
	EXPECT_EQ(tcgetattr(run.pty_master, &settings), 0) << strerror(errno);
	return settings;
}

// Puts the line in a state the daemon must change: a slow speed that no
// option selects, cooked input and output, parity, two stop bits.
void dirty_line(const daemon_run &run)
{
	termios settings{};
	ASSERT_EQ(tcgetattr(run.pty_master, &settings), 0);
	settings.c_iflag |= ICRNL | IXON | INPCK | ISTRIP | BRKINT;
	settings.c_oflag |= OPOST | ONLCR;
	settings.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
	settings.c_cflag = (settings.c_cflag & ~CSIZE) | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
	settings.c_cc[VMIN] = 4;
	settings.c_cc[VTIME] = 7;
	cfsetospeed(&settings, B1200);
	cfsetispeed(&settings, B1200);
	ASSERT_EQ(tcsetattr(run.pty_master, TCSANOW, &settings), 0) << strerror(errno);
}

daemon_config with_arguments(std::vector<std::string> arguments)
{
	daemon_config config;
	config.arguments = std::move(arguments);
	return config;
}

// Starts every run at once, so that their one-second start-up pauses
// overlap, then waits until each reads its line.
bool start_together(run_list &runs)
{
	for (auto &run : runs) {
		run->config.wait_ready = false;
		if (!run->start())
			return false;
	}
	for (auto &run : runs)
		if (run->wait_reading() <= 0)
			return false;
	return true;
}

// Waits for the process the harness started, and no other: several runs
// may end at the same time. The run no longer owns a process afterwards.
exit_result reap_started(daemon_run &run, int timeout_ms = 10000)
{
	int status = 0;
	pid_t done = 0;
	if (!wait_until(timeout_ms, [&] { return (done = waitpid(run.pid, &status, WNOHANG)) != 0; }) ||
	    done != run.pid)
		return exit_result{};
	run.pid = -1;
	return WIFEXITED(status) ? exit_result{true, WEXITSTATUS(status)}
				 : exit_result{false, WTERMSIG(status)};
}

// Whether the daemon holds the serial line open and sleeps: the start-up
// pause between configuring the line and flushing its input.
bool in_start_up_pause(const daemon_run &run)
{
	const call_snapshot call = current_call(run.pid);
	file_id line{};
	return call.state == call_state::blocked &&
	       (call.number == SYS_clock_nanosleep || call.number == SYS_nanosleep) &&
	       file_id_of(run.pty_slave.c_str(), line) && holders_in(run.pid, line).count != 0;
}

// Bytes received on the line that nobody has read yet.
int queued_on_line(const daemon_run &run)
{
	int line = open(run.pty_slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
	int queued = -1;
	if (line >= 0) {
		if (ioctl(line, FIONREAD, &queued) != 0)
			queued = -1;
		close(line);
	}
	return queued;
}


TEST(spine, keyboard_frame_reaches_the_keyboard_device)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run({});
	ASSERT_TRUE(run.start());
	ASSERT_TRUE(run.send_and_wait(key_press));
	EXPECT_EQ(run.device_text("kbd"), key_down);
	// Without a calibration file the daemon warns on standard error and runs
	// on; every calibration warning's text is the unit table calibration.read_from_file.
	EXPECT_EQ(run.stderr_text(), calibration_missing_warning);
	auto result = run.stop();
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
}

// ---------------------------------------------------------------------------
// Command line

// One row per outcome: what it prints and its status. Every parsing variant
// is a row of the unit table options.parse_outcomes_table.
TEST(spine_command_line, arguments_table)
{
	E2E_REQUIRE_NAMESPACES();
	struct row {
		const char *legend;
		std::vector<std::string> arguments;
		std::string printed;
		int status;
	};
	const row rows[] = {
		{"-h prints the usage text", {"-h"}, usage_with_name, 0},
		{"-v prints the version", {"-v"}, version_text, 0},
		{"an argument error prints the hint", {"--"}, hint_text, 1},
	};
	// Every run ends by itself; they are started together to save time.
	run_list runs;
	for (const row &r : rows) {
		daemon_config config = with_arguments(r.arguments);
		config.serial_option = false;
		config.program_name = program_path;
		config.wait_ready = false;
		runs.push_back(std::make_unique<daemon_run>(config));
		ASSERT_TRUE(runs.back()->start());
	}
	for (std::size_t i = 0; i < runs.size(); ++i) {
		SCOPED_TRACE(rows[i].legend);
		daemon_run &run = *runs[i];
		exit_result result = reap_started(run);
		EXPECT_TRUE(result.exited);
		EXPECT_EQ(result.status, rows[i].status);
		EXPECT_EQ(run.stdout_text(), rows[i].printed);
		EXPECT_TRUE(calibration_warnings_only(run.stderr_text())) << run.stderr_text();
	}
}

// ---------------------------------------------------------------------------
// Start-up failures

TEST(spine_start_up, failures_table)
{
	E2E_REQUIRE_NAMESPACES();
	struct row {
		const char *legend;
		daemon_config config;
		std::string printed;
		bool lock_line = false;      // another process holds the line
		bool line_touched = false;   // the daemon gets to configure the line
		const char *adapter = "";    // commands sent before the failure
		const char *missing = nullptr; // device that must not be created
	};
	auto with = [](std::vector<std::string> arguments, auto adjust) {
		daemon_config config = with_arguments(std::move(arguments));
		adjust(config);
		return config;
	};
	auto same = [](daemon_config &) {};
	auto own_line = [](daemon_config &c) { c.serial_option = false; };
	char uinput_missing[160];
	(void)snprintf(uinput_missing, sizeof uinput_missing, uinput_open_failed_format,
		       "/dev/uinput", strerror(ENOENT), uinput_missing_hint);
	std::vector<row> rows = {
		{"missing key map: reported before the line is touched",
		 with({"-i"}, [](daemon_config &c) { c.key_map.reset(); }),
		 key_map_missing_message},
		{"a key map that is a directory is no key map",
		 with({"-i", "-m", "/etc"}, same), key_map_missing_message},
		{"serial device that does not exist",
		 with({"-i", "-p", "/dev/ttyPS2"}, own_line),
		 serial_open_failed_message},
		{"plain file as serial device",
		 with({"-i", "-p", "/dev/line"}, own_line),
		 std::string(tcgeta_failed_message) + serial_setup_failed_message},
		{"serial device locked by another process", with({"-i"}, same), "", true},
		{"-M without a touch device", with({"-M"}, same), "", false, true, "e", "ts"},
		{"no keyboard device",
		 with({}, [](daemon_config &c) { c.kbd = device_kind::absent; }), "", false, true,
		 "", "kbd"},
		{"-V without a key-injection device",
		 with({"-V"}, same), "", false, true, "", "keypipe"},
		{"-u without uinput: one line naming the device and the module, nothing opened",
		 with({"-u", "-M"}, same), uinput_missing, false, true, "e", "ts"},
	};

	run_list runs;
	std::vector<termios> before(rows.size());
	std::vector<std::vector<std::string>> dev_before(rows.size());
	std::vector<int> locks;
	for (std::size_t i = 0; i < rows.size(); ++i) {
		runs.push_back(std::make_unique<daemon_run>(rows[i].config));
		daemon_run &run = *runs.back();
		// A regular file where the daemon is told its line is.
		FILE *line = fopen(run.dev("line").c_str(), "w");
		ASSERT_NE(line, nullptr);
		fclose(line);
		before[i] = line_settings(run);
		if (rows[i].lock_line) {
			int fd = open(run.pty_slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
			ASSERT_GE(fd, 0);
			ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
			locks.push_back(fd);
		}
		dev_before[i] = upper_layer(run, "dev");
		run.config.wait_ready = false;
		ASSERT_TRUE(run.start());
	}
	// The runs end by themselves, some after the line's start-up pause:
	// they are started together and each is reaped on its own.
	for (std::size_t i = 0; i < rows.size(); ++i) {
		const row &r = rows[i];
		daemon_run &run = *runs[i];
		SCOPED_TRACE(r.legend);
		exit_result result = reap_started(run);
		EXPECT_TRUE(result.exited);
		EXPECT_EQ(result.status, 1);
		EXPECT_EQ(run.stdout_text(), r.printed);
		EXPECT_TRUE(calibration_warnings_only(run.stderr_text())) << run.stderr_text();
		EXPECT_EQ(e2e::bytes_text(run.read_adapter_pending()), r.adapter);
		termios after = line_settings(run);
		bool line_changed = after.c_iflag != before[i].c_iflag ||
				    after.c_lflag != before[i].c_lflag ||
				    after.c_cflag != before[i].c_cflag ||
				    after.c_cc[VTIME] != before[i].c_cc[VTIME];
		EXPECT_EQ(line_changed, r.line_touched);
		EXPECT_EQ(upper_layer(run, "dev"), dev_before[i]) << "a file appeared in /dev";
		if (r.missing) {
			EXPECT_FALSE(exists(run.dev(r.missing)));
		}
		EXPECT_EQ(read_text(run.dev("line")), "") << "the plain file was written to";
	}
	for (int fd : locks)
		close(fd);
}

// ---------------------------------------------------------------------------
// Serial line

// The speed reaches the line: the default, and one chosen by an option group.
// Every speed argument's reading is in the unit tables options.convert_speed_reads_like_atol,
// options.only_three_speeds_leave_9600 and options.parse_outcomes_table.
TEST(spine_serial_line, speed_table)
{
	E2E_REQUIRE_NAMESPACES();
	struct row {
		const char *legend;
		std::vector<std::string> arguments; // "LINE": the pseudo-terminal
		speed_t speed;
	};
	const row rows[] = {
		{"no -s", {}, B9600},
		{"-ps takes the device, then the speed; a dash alone changes nothing",
		 {"-", "-ps", "LINE", "57600", "-"}, B57600},
	};
	run_list runs;
	for (const row &r : rows) {
		daemon_config config;
		config.arguments = r.arguments;
		config.serial_option = std::find(r.arguments.begin(), r.arguments.end(), "LINE") ==
				       r.arguments.end();
		runs.push_back(std::make_unique<daemon_run>(config));
		daemon_run &run = *runs.back();
		std::replace(run.config.arguments.begin(), run.config.arguments.end(),
			     std::string("LINE"), run.pty_slave);
		dirty_line(run);
	}
	ASSERT_TRUE(start_together(runs));
	for (std::size_t i = 0; i < runs.size(); ++i) {
		SCOPED_TRACE(rows[i].legend);
		daemon_run &run = *runs[i];
		termios settings = line_settings(run);
		EXPECT_EQ(cfgetospeed(&settings), rows[i].speed);
		exit_result result = run.stop();
		EXPECT_EQ(result.status, 1);
		EXPECT_EQ(count_of(run.stdout_text(), e2e::signal_text(15)), 1u) << run.stdout_text();
	}
}

TEST(spine_serial_line, raw_settings_written_over_a_cooked_line)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run({});
	dirty_line(run);
	termios before = line_settings(run);
	ASSERT_TRUE(run.start());
	termios after = line_settings(run);
	EXPECT_EQ(after.c_iflag, tcflag_t{IGNBRK | IMAXBEL});
	EXPECT_EQ(after.c_iflag, 0x2001u);
	EXPECT_EQ(after.c_oflag, 0u);
	EXPECT_EQ(after.c_lflag, 0u);
	EXPECT_EQ(after.c_cflag & CSIZE, tcflag_t{CS8});
	EXPECT_EQ(after.c_cflag & (CREAD | HUPCL | CLOCAL), tcflag_t{CREAD | HUPCL | CLOCAL});
	EXPECT_EQ(after.c_cflag & (PARENB | PARODD | CSTOPB), 0u);
	EXPECT_EQ(after.c_cflag & 0xFFFF, tcflag_t{B9600 | 0x0CB0});
	// The short record holds the low 16 bits of each flag word: hardware
	// flow control, above them, keeps what the line had.
	EXPECT_NE(before.c_cflag & CRTSCTS, 0u);
	EXPECT_EQ(after.c_cflag & ~tcflag_t{0xFFFF}, before.c_cflag & ~tcflag_t{0xFFFF});
	EXPECT_EQ(after.c_cc[VMIN], 0);
	EXPECT_EQ(after.c_cc[VTIME], 1);
	// The short record carries eight control characters and the line
	// discipline; the rest of what the terminal holds is left as it was.
	for (int cc : {VINTR, VQUIT, VERASE, VKILL, VEOF, VSWTC, VSTART, VSTOP, VSUSP}) {
		SCOPED_TRACE(cc);
		EXPECT_EQ(after.c_cc[cc], before.c_cc[cc]);
	}
	EXPECT_EQ(after.c_line, before.c_line);
	EXPECT_EQ(run.stop().status, 1);
}

TEST(spine_serial_line, dtr_message_only_with_debug_info)
{
	E2E_REQUIRE_NAMESPACES();
	run_list runs;
	runs.push_back(std::make_unique<daemon_run>(with_arguments({"-i"})));
	runs.push_back(std::make_unique<daemon_run>(with_arguments({})));
	ASSERT_TRUE(start_together(runs));
	for (auto &run : runs)
		EXPECT_EQ(run->stop().status, 1);
	std::string debug = runs[0]->stdout_text();
	EXPECT_EQ(debug.rfind(dtr_raised_message, 0), 0u) << debug;
	EXPECT_EQ(count_of(debug, "DTR"), 1u) << debug;
	EXPECT_EQ(count_of(runs[1]->stdout_text(), "DTR"), 0u) << runs[1]->stdout_text();
}

TEST(spine_serial_line, bytes_sent_during_start_up_are_discarded)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run({});
	run.config.wait_ready = false;
	ASSERT_TRUE(run.start());
	ASSERT_TRUE(wait_until(10000, [&] { return in_start_up_pause(run); }, 2))
		<< "the daemon never paused with its line open";
	// A whole joystick press and the start of a keyboard frame, which would
	// swallow the first bytes sent after start-up if they were kept. They
	// are in the daemon's input queue before its pause ends.
	const bytes early = {0x4A, 0x00, 0x00, 0x01, 0x00, 0x01, 0x4B, 0x01};
	run.send(early);
	bool queued_in_pause = false;
	(void)wait_until(10000, [&] {
		queued_in_pause = queued_on_line(run) == static_cast<int>(early.size()) &&
				  in_start_up_pause(run);
		return queued_in_pause || !in_start_up_pause(run);
	});
	ASSERT_TRUE(queued_in_pause);
	ASSERT_GT(run.wait_reading(), 0);
	ASSERT_TRUE(run.send_and_wait(key_press));
	EXPECT_EQ(run.device_text("kbd"), key_down);
	EXPECT_EQ(run.stop().status, 1);
	EXPECT_EQ(count_of(run.stdout_text(), checksum_error), 0u);
}

// Without -M nothing is sent to the adapter and the touch device is not
// needed. With -M the adapter gets "e" first: the [adapter] section of every
// -M transcript, and lost_line_lets_go_and_comes_back.
TEST(spine_serial_line, mouse_enable_command_only_with_mouse)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config no_mouse = with_arguments({});
	no_mouse.ts = device_kind::absent;
	daemon_run run(no_mouse);
	ASSERT_TRUE(run.start());
	ASSERT_TRUE(run.send_and_wait(key_press));
	EXPECT_EQ(run.device_text("kbd"), key_down);
	EXPECT_EQ(e2e::bytes_text(run.read_adapter_pending()), "");
	EXPECT_EQ(run.stop().status, 1);
	EXPECT_FALSE(exists(run.dev("ts")));
}

TEST(spine_serial_line, lost_line_lets_go_and_comes_back)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.serial_option = false;
	config.key_map = "77 NumLock - 0\n1c a - 1e\n";
	config.ts = device_kind::file;
	daemon_run run(config);
	const std::string adapter = run.root + "/adapter";
	run.config.arguments = {"-M", "-p", adapter};
	ASSERT_EQ(symlink(run.pty_slave.c_str(), adapter.c_str()), 0);
	ASSERT_TRUE(run.start());
	bytes held = e2e::key_frame({0x77});
	for (const bytes &more : {key_press, e2e::mouse_frame(0x01, 3, 4)})
		held.insert(held.end(), more.begin(), more.end());
	ASSERT_TRUE(run.send_and_wait(held));
	EXPECT_EQ(e2e::bytes_text(run.read_adapter(4)), "ek\xED\x02");
	// The adapter is pulled out: its terminal hangs up. The key and the
	// touch still down are let go, and the same path is tried again.
	run.unplug_line(adapter);
	const std::string down = key_down, down_and_up = down + " 30 0 \n";
	EXPECT_EQ(run.wait_device_text("kbd", down_and_up.size()), down_and_up);
	const std::string touch_and_lift = "500 4 3 0\n0 4 3 0\n";
	EXPECT_EQ(run.wait_device_text("ts", touch_and_lift.size()), touch_and_lift);
	// Plugged in again: set up as at start-up, mouse and lights included.
	ASSERT_TRUE(run.plug_new_line(adapter));
	EXPECT_EQ(e2e::bytes_text(run.read_adapter(4)), "ek\xED\x02");
	ASSERT_TRUE(run.send_and_wait(key_press));
	EXPECT_EQ(run.device_text("kbd"), down_and_up + down);
	char lost[100], back[100];
	(void)snprintf(lost, sizeof lost, line_lost_format, adapter.c_str());
	(void)snprintf(back, sizeof back, line_back_format, adapter.c_str());
	EXPECT_EQ(run.stdout_text(), std::string(lost) + back);
	// Lost again, and stopped while the new line settles: the stop is
	// acted on, and the line is not said to be back.
	run.unplug_line(adapter);
	ASSERT_TRUE(run.plug_new_line(adapter, false));
	ASSERT_TRUE(wait_until(10000, [&] { return in_start_up_pause(run); }, 2));
	EXPECT_EQ(run.stop().status, 1);
	EXPECT_EQ(run.stdout_text(), std::string(lost) + back + lost + e2e::signal_text(15));
}

// Each way of noticing a lost line on its own, the line failing as the test
// library makes it (tests/support/fake_fb.cpp) once the first key frame is
// read: a read that fails with EIO while requests still work, and a terminal
// that hung up (reads answer at once with nothing, requests fail with EIO).
// Either is let go and opened again. A line whose reads only answer nothing
// is kept: its reads are paced to at most ten a second, counted by the
// kernel over a measured interval.
TEST(spine_serial_line, lost_line_noticed_each_way_and_failed_reads_paced)
{
	E2E_REQUIRE_NAMESPACES();
	struct row {
		const char *legend;
		const char *fault; // FAKE_LINE_FAULT
		bool lost;
	};
	const row rows[] = {
		{"reads fail with EIO, requests still work", "eio", true},
		{"a hung-up terminal: reads answer at once, requests fail with EIO", "hangup", true},
		{"reads answer at once, requests work: paced, the line kept", "empty", false},
	};
	run_list runs;
	for (const row &r : rows) {
		runs.push_back(std::make_unique<daemon_run>(daemon_config{}));
		daemon_run &run = *runs.back();
		run.config.failing_calls = {"FAKE_LINE=" + run.pty_slave,
					    std::string("FAKE_LINE_FAULT=") + r.fault,
					    "FAKE_LINE_AFTER=" + std::to_string(key_press.size())};
	}
	ASSERT_TRUE(start_together(runs));
	const std::string down = key_down, down_and_up = down + " 30 0 \n";
	for (std::size_t i = 0; i < runs.size(); ++i) {
		const row &r = rows[i];
		SCOPED_TRACE(r.legend);
		daemon_run &run = *runs[i];
		run.send(key_press);
		std::string printed;
		if (r.lost) {
			EXPECT_EQ(run.wait_device_text("kbd", down_and_up.size()), down_and_up);
			char lost[100], back[100];
			(void)snprintf(lost, sizeof lost, line_lost_format, run.pty_slave.c_str());
			(void)snprintf(back, sizeof back, line_back_format, run.pty_slave.c_str());
			printed = std::string(lost) + back;
			EXPECT_TRUE(wait_until(10000, [&] { return run.stdout_text() == printed; }))
				<< run.stdout_text();
			ASSERT_TRUE(run.send_and_wait(key_press)) << "the line opened again";
			EXPECT_EQ(run.device_text("kbd"), down_and_up + down);
		} else {
			EXPECT_EQ(run.wait_device_text("kbd", down.size()), down);
			const long long calls_before = read_calls_by(run.daemon_pid);
			const long long start_ms = now_ms();
			pause_ms(1000); // the interval measured, not a wait for an event
			const long long calls = read_calls_by(run.daemon_pid) - calls_before;
			const long long elapsed_ms = now_ms() - start_ms;
			EXPECT_LE(calls, elapsed_ms / 100 + 2) << "in " << elapsed_ms << " ms";
			EXPECT_GE(calls_before, 0);
		}
		EXPECT_EQ(run.stop().status, 1);
		EXPECT_EQ(run.stdout_text(), printed + e2e::signal_text(15));
	}
}

// ---------------------------------------------------------------------------
// Output devices and detaching

TEST(spine_start_up, keypipe_instead_of_keyboard_with_V)
{
	E2E_REQUIRE_NAMESPACES();
	// No /dev/kbd at all: the daemon must not need it.
	daemon_config config = with_arguments({"-V"});
	config.kbd = device_kind::absent;
	config.keypipe = device_kind::file;
	daemon_run run(config);
	ASSERT_TRUE(run.start());
	ASSERT_TRUE(run.send_and_wait(key_press));
	EXPECT_EQ(run.device_text("keypipe"), std::string("\x1e\x01", 2));
	EXPECT_EQ(run.stop().status, 1);
	// The key still held is released at exit.
	EXPECT_EQ(run.device_text("keypipe"), std::string("\x1e\x01\x1e\x00", 4));
	EXPECT_FALSE(exists(run.dev("kbd")));
}

// With a relative -p: detached, the daemon's working directory is /, and
// the line must still be found again once it is lost.
TEST(spine_start_up, background_keeps_messages_printed_before_detaching)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config = with_arguments({"-bi", "-p", "adapter"});
	config.serial_option = false;
	daemon_run run(config);
	run.config.wait_ready = false;
	run.config.working_directory = run.root;
	const std::string adapter = run.root + "/adapter";
	ASSERT_EQ(symlink(run.pty_slave.c_str(), adapter.c_str()), 0);
	// A system log of our own, the world's /dev/log.
	int log = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	sockaddr_un address{};
	address.sun_family = AF_UNIX;
	snprintf(address.sun_path, sizeof address.sun_path, "%s/log.socket", run.root.c_str());
	ASSERT_EQ(bind(log, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
	// Facility daemon: error 27, warning 28, notice 29; the text after
	// "ps2linkd[PID]: ".
	std::vector<std::string> lines;
	auto take_log = [&] {
		char datagram[512];
		ssize_t got;
		while ((got = recv(log, datagram, sizeof datagram, MSG_DONTWAIT)) > 0) {
			std::string line(datagram, static_cast<std::size_t>(got));
			std::string tag = "ps2linkd[" + std::to_string(run.daemon_pid) + "]: ";
			std::size_t text = line.find(tag);
			lines.push_back(line.substr(0, 4) + (text == std::string::npos ? line : line.substr(text + tag.size())));
		}
		return lines.size();
	};
	ASSERT_TRUE(run.start());
	int started = run.pid;
	exit_result parent = reap_started(run);
	run.pid = started; // the harness still owns the detached daemon
	EXPECT_TRUE(parent.exited);
	EXPECT_EQ(parent.status, 0);
	ASSERT_GT(run.wait_reading(), 0);
	EXPECT_NE(run.daemon_pid, started);
	EXPECT_EQ(run.stdout_text(), dtr_raised_message);
	// The detached daemon handles frames; its reports go to the system log,
	// bad frames at most once a second: the count of those left out comes
	// on the first idle read after the second (here once the line is back),
	// else at exit.
	const bytes bad = {0x4B, 0x01, 0x1C, 0x00, 0x00, 0x00};
	ASSERT_TRUE(run.send_and_wait({0x4B, 0x01, 0x1C, 0x00, 0x00, 0x00,
					0x4B, 0x01, 0x1C, 0x00, 0x00, 0x1D}));
	ASSERT_TRUE(run.send_and_wait(bad));
	ASSERT_TRUE(run.send_and_wait(bad));
	EXPECT_EQ(run.device_text("kbd"), key_down);
	run.unplug_line(adapter);
	ASSERT_TRUE(run.plug_new_line(adapter)) << "the relative path was not found again";
	ASSERT_TRUE(wait_until(5000, [&] { return take_log() >= 4; }));
	ASSERT_TRUE(run.send_and_wait(bad));
	ASSERT_TRUE(run.send_and_wait(bad));
	EXPECT_EQ(run.stdout_text(), dtr_raised_message);
	exit_result result = run.stop();
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
	(void)take_log();
	close(log);
	std::string stop = e2e::signal_text(SIGTERM);
	EXPECT_EQ(lines, (std::vector<std::string>{"<28>Error checksum",
						   "<27>Serial line adapter lost; trying to open it every second",
						   "<29>Serial line adapter is back",
						   "<28>Error checksum: 2 more not logged",
						   "<29>" + stop.substr(0, stop.size() - 1),
						   "<28>Error checksum: 2 more not logged"}));
}

// Under systemd standard output is the journal: bad frames at the system
// log's pace. JOURNAL_STREAM naming another stream changes nothing.
TEST(spine_start_up, journal_gets_bad_frames_at_the_log_pace)
{
	E2E_REQUIRE_NAMESPACES();
	const std::string one = checksum_error, stop = e2e::signal_text(15);
	const std::string two_left = "Error checksum: 2 more not logged\n";
	const struct {
		const char *journal_stream;
		std::string idle, end; // after three bad frames and the idle line; a fourth and a stop
	} rows[] = {
		{"stdout", one + two_left, one + two_left + stop + "Error checksum: 1 more not logged\n"},
		{"1:1", one + one + one, one + one + one + one + stop},
	};
	run_list runs;
	for (const auto &r : rows) {
		runs.push_back(std::make_unique<daemon_run>(daemon_config{}));
		runs.back()->config.journal_stream = r.journal_stream;
	}
	ASSERT_TRUE(start_together(runs));
	const bytes bad = {0x4B, 0x01, 0x1C, 0x00, 0x00, 0x00};
	bytes three;
	for (int i = 0; i < 3; ++i)
		three.insert(three.end(), bad.begin(), bad.end());
	for (std::size_t i = 0; i < runs.size(); ++i) {
		SCOPED_TRACE(rows[i].journal_stream);
		ASSERT_TRUE(runs[i]->send_and_wait(three));
		EXPECT_TRUE(wait_until(5000, [&] { return runs[i]->stdout_text() == rows[i].idle; }))
			<< runs[i]->stdout_text();
		ASSERT_TRUE(runs[i]->send_and_wait(bad));
		EXPECT_EQ(runs[i]->stop().status, 1);
		EXPECT_EQ(runs[i]->stdout_text(), rows[i].end);
	}
}

// The command stream is opened by path a second after the line: a path that
// names another file by then gives no stream (start-up ends, a reconnect
// tries again).
TEST(spine_serial_line, command_stream_only_on_the_line_device)
{
	serial_line.serial_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
	EXPECT_EQ(open_adapter_stream("/dev/zero"), -1);
	EXPECT_EQ(serial_line.adapter_out, nullptr);
	EXPECT_EQ(open_adapter_stream("/dev/null"), 0);
	close_serial_line();
}

} // namespace
