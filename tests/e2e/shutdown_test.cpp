// Stopping the real daemon: the three signals, the exit clean-up, and a stop
// that meets a daemon which is busy, blocked in a device call or writing to a
// consumer that went away or stopped reading, or comes at an awkward moment of
// start-up (the calibration open, console mode's layout command). Whatever it
// was doing, the daemon must print its message once, undo what it set up and
// end with 1; a fatal signal it does not catch ends it by that signal.
#include "harness.h"

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using e2e::daemon_config;
using e2e::daemon_run;
using e2e::device_kind;

using e2e::joystick_frame;
using e2e::key_frame;

std::vector<uint8_t> joined(std::initializer_list<std::vector<uint8_t>> parts)
{
	std::vector<uint8_t> all;
	for (const auto &part : parts)
		all.insert(all.end(), part.begin(), part.end());
	return all;
}

void expect_signal_exit(daemon_run &run, const e2e::exit_result &result, int number_in_message)
{
	EXPECT_TRUE(result.exited) << "ended by signal " << result.status << " or hung";
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(run.stdout_text(), e2e::signal_text(number_in_message));
}

TEST(shutdown, each_signal_ends_an_idle_daemon_with_its_message_and_status_1)
{
	E2E_REQUIRE_NAMESPACES();
	struct row {
		const char *legend;
		int signal_number;
		int number_in_message;
	};
	const row rows[] = {{"SIGTERM", SIGTERM, 15}, {"SIGINT", SIGINT, 2}, {"SIGHUP", SIGHUP, 1}};
	for (const row &r : rows) {
		SCOPED_TRACE(r.legend);
		daemon_run run({});
		ASSERT_TRUE(run.start());
		auto result = run.stop(r.signal_number);
		expect_signal_exit(run, result, r.number_in_message);
		EXPECT_EQ(run.loadkmap_log(), "") << "no layout command outside console mode";
	}
}

TEST(shutdown, console_mode_restores_the_layout_first_and_once)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.arguments = {"-c"};
	config.loadkmap_checks_line = true;
	daemon_run run(config);
	ASSERT_TRUE(run.start());
	EXPECT_EQ(run.loadkmap_log(), "loadkmap ps2\n");
	auto result = run.stop(SIGTERM);
	expect_signal_exit(run, result, 15);
	EXPECT_EQ(run.loadkmap_log(), "loadkmap ps2\nloadkmap zeta\n");
	// At start-up the line is not open yet; at exit the restore comes before
	// the line is closed.
	EXPECT_EQ(run.line_lock_log(), "free\nheld\n");
}

TEST(shutdown, version_and_usage_restore_the_layout_only_after_c)
{
	E2E_REQUIRE_NAMESPACES();
	struct row {
		std::vector<std::string> arguments;
		const char *output_start;
		const char *layout_log;
	};
	const row rows[] = {
		{{"-c", "-v"}, "ps2linkd version 1.1.0\n", "loadkmap zeta\n"},
		{{"-v", "-c"}, "ps2linkd version 1.1.0\n", ""},
		{{"-c", "-h"}, "Usage: ps2linkd [OPTION]\n-p : serial port device name", "loadkmap zeta\n"},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.arguments[0] + " " + r.arguments[1]);
		daemon_config config;
		config.arguments = r.arguments;
		daemon_run run(config);
		auto result = e2e::run_to_end(run);
		EXPECT_TRUE(result.exited);
		EXPECT_EQ(result.status, 0);
		EXPECT_EQ(run.stdout_text().rfind(r.output_start, 0), 0u) << run.stdout_text();
		EXPECT_EQ(run.loadkmap_log(), r.layout_log);
	}
}

TEST(shutdown, second_console_daemon_on_a_locked_line_switches_the_layout_and_back)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run first({});
	ASSERT_TRUE(first.start());

	daemon_config config;
	config.serial_option = false;
	config.arguments = {"-c", "-p", first.pty_slave};
	daemon_run second(config);
	auto result = e2e::run_to_end(second);
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(second.stdout_text(), "");
	EXPECT_EQ(second.loadkmap_log(), "loadkmap ps2\nloadkmap zeta\n");

	// The first one never noticed.
	ASSERT_TRUE(first.send_and_wait(key_frame({0x1C})));
	EXPECT_EQ(first.device_text("kbd"), " 30 1 \n");
	expect_signal_exit(first, first.stop(SIGTERM), 15);
}

TEST(shutdown, cursor_is_erased_at_exit)
{
	E2E_REQUIRE_NAMESPACES();
	constexpr uint16_t background = 0x1234; // neither cursor colour
	daemon_config config;
	config.arguments = {"-M"};
	config.ts = device_kind::file;
	config.screen = e2e::fake_screen{};
	config.screen->background = background;
	daemon_run run(config);
	ASSERT_TRUE(run.start());
	const std::vector<uint8_t> blank = run.framebuffer_bytes();

	ASSERT_TRUE(run.send_and_wait(e2e::mouse_frame(0x00, 100, 100))); // well inside the screen
	ASSERT_NE(run.framebuffer_bytes(), blank) << "the cursor was never drawn";

	expect_signal_exit(run, run.stop(SIGTERM), 15);
	EXPECT_EQ(run.framebuffer_bytes(), blank) << "cursor pixels left on the screen";
}

TEST(shutdown, signal_while_frames_stream_in_ends_the_daemon_once)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run({});
	ASSERT_TRUE(run.start());
	const std::vector<uint8_t> press_release = joined({key_frame({0x1C}), key_frame({0xF0, 0x1C})});

	// Another process keeps the line full while the daemon is stopped.
	fflush(nullptr);
	pid_t sender = fork();
	ASSERT_GE(sender, 0);
	if (sender == 0) {
		for (;;)
			if (write(run.pty_master, press_release.data(), press_release.size()) < 0)
				_exit(0);
	}
	run.wait_device_text("kbd", 7 * 100);
	auto result = run.stop(SIGTERM);
	kill(sender, SIGKILL);
	waitpid(sender, nullptr, 0);

	expect_signal_exit(run, result, 15);
	// Only whole events: the frame under way was abandoned between events.
	std::string events = run.device_text("kbd");
	ASSERT_GE(events.size(), 7u * 100);
	for (std::size_t at = 0; at < events.size(); at += 7) {
		std::string event = events.substr(at, 7);
		ASSERT_TRUE(event == " 30 1 \n" || event == " 30 0 \n") << "at byte " << at;
	}
}

TEST(shutdown, key_reader_that_goes_away_leaves_the_daemon_running)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.kbd = device_kind::fifo;
	daemon_run run(config);
	ASSERT_TRUE(run.start());
	ASSERT_TRUE(run.send_and_wait(key_frame({0x1C})));
	ASSERT_EQ(run.device_text("kbd"), " 30 1 \n");

	close(run.kbd_reader);
	run.kbd_reader = -1;
	// Still handling frames once it has written into the void.
	ASSERT_TRUE(run.send_and_wait(joined({key_frame({0xF0, 0x1C}), key_frame({0x1C})})))
		<< "the daemon died writing to a FIFO without reader";

	expect_signal_exit(run, run.stop(SIGTERM), 15);
}

// Key map for the stalled-reader cases: 1C is sent wrapped (key 5 inside
// key 30), with shift let go around it when shift is held; the sixteen
// joystick buttons are keys 0x40 and up.
const std::string wrapping_key_map =
	"lshift 12\n"
	"1c a - 1e05\n"
	"1c A S 1e05\n"
	"J 0 b0 40\nJ 1 b1 41\nJ 2 b2 42\nJ 3 b3 43\nJ 4 b4 44\nJ 5 b5 45\nJ 6 b6 46\n"
	"J 7 b7 47\nJ 8 b8 48\nJ 9 b9 49\nJ 10 b10 4a\nJ 11 b11 4b\nJ 12 b12 4c\n"
	"J 13 b13 4d\nJ 14 b14 4e\nJ 15 b15 4f\n";

TEST(shutdown, stalled_key_reader_does_not_hold_a_stop)
{
	E2E_REQUIRE_NAMESPACES();
	// Two events a frame, then three with shift held.
	const std::vector<uint8_t> wrapped = joined({
		key_frame({0x1C}), key_frame({0xF0, 0x1C}), key_frame({0x12}),
		key_frame({0x1C}), key_frame({0xF0, 0x1C}), key_frame({0xF0, 0x12}),
	});
	// All sixteen buttons down, then all up: sixteen events a frame.
	const std::vector<uint8_t> chords = joined({joystick_frame(0xFF, 0xFF), joystick_frame(0, 0)});
	struct row {
		const char *legend;
		std::vector<std::string> arguments;
		device_kind kbd;
		device_kind keypipe;
		std::vector<uint8_t> frames;
	};
	const row rows[] = {
		{"wrapped keys on the keyboard device", {}, device_kind::fifo, device_kind::absent, wrapped},
		{"joystick chords on the keyboard device", {}, device_kind::fifo, device_kind::absent, chords},
		{"raw events of both on the keypipe", {"-V"}, device_kind::absent, device_kind::fifo,
		 joined({wrapped, chords})},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.legend);
		daemon_config config;
		config.arguments = r.arguments;
		config.key_map = wrapping_key_map;
		config.kbd = r.kbd;
		config.keypipe = r.keypipe;
		daemon_run run(config);
		ASSERT_TRUE(run.start());
		// The harness holds the FIFO's read end but never reads it.
		ASSERT_TRUE(run.send_until_blocked_writing(r.frames)) << "never blocked on the full FIFO";
		auto result = run.stop(SIGTERM);
		expect_signal_exit(run, result, 15);
	}
}

TEST(shutdown, signal_during_the_start_up_pause_ends_start_up)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.wait_ready = false;
	daemon_run run(config);
	ASSERT_TRUE(run.start());
	// The one-second wait for the adapter, after the signals are caught.
	ASSERT_TRUE(run.wait_in_syscall({SYS_clock_nanosleep, SYS_nanosleep}));
	expect_signal_exit(run, run.stop(SIGTERM), 15);
}

TEST(shutdown, signal_during_a_blocked_device_open_ends_start_up)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.kbd = device_kind::fifo;
	config.fifo_readers = false; // opening it for writing waits for a reader
	config.wait_ready = false;
	daemon_run run(config);
	ASSERT_TRUE(run.start());
	ASSERT_TRUE(run.wait_in_syscall({SYS_openat}));
	expect_signal_exit(run, run.stop(SIGTERM), 15);
}

// ---- Stops at awkward moments ----

// The timer that interrupts blocked calls during a stop sends SIGALRM; the
// daemon catches it only once a stop is pending. Before that SIGALRM keeps
// its default effect: the daemon ends by it, without message or clean-up.
TEST(shutdown_stop, sigalrm_is_not_caught_while_running)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run({});
	ASSERT_TRUE(run.start());
	auto result = run.stop(SIGALRM);
	EXPECT_FALSE(result.exited);
	EXPECT_EQ(result.status, SIGALRM);
	EXPECT_EQ(run.stdout_text(), "");
}

// /etc/pointercal as a FIFO nobody writes: start-up waits in its open. A
// stop there is reported as the stop, without the calibration warning.
TEST(shutdown_stop, during_the_calibration_open_prints_only_the_stop)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.wait_ready = false;
	daemon_run run(config);
	ASSERT_EQ(mkfifo(run.etc("pointercal").c_str(), 0644), 0);
	ASSERT_TRUE(run.start());
	ASSERT_TRUE(run.wait_in_syscall({SYS_openat, SYS_open}));
	auto result = run.stop(SIGTERM);
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(run.stdout_text(), e2e::signal_text(SIGTERM));
	EXPECT_EQ(run.stderr_text(), "");
}

// Console mode switches the layout with a command the daemon waits for. A
// Ctrl-C meanwhile is acted on as soon as the command has ended: the stop
// message, status 1, and the built-in layout restored once.
TEST(shutdown_stop, sigint_during_the_start_up_layout_command_is_not_lost)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.arguments = {"-c"};
	config.wait_ready = false;
	daemon_run run(config);
	// The layout loader waits for the test's go-ahead before it finishes.
	std::string loader = run.root + "/bin/loadkmap";
	std::string go = run.root + "/go";
	FILE *script = fopen(loader.c_str(), "w");
	ASSERT_NE(script, nullptr);
	fprintf(script,
		"#!/bin/sh\nlayout=$(cat)\necho \"start $layout\" >> '%s/loadkmap.log'\n"
		"while [ ! -e '%s' ]; do sleep 0.01; done\n"
		"echo \"end $layout\" >> '%s/loadkmap.log'\n",
		run.root.c_str(), go.c_str(), run.root.c_str());
	fclose(script);
	ASSERT_TRUE(run.start());
	long long deadline = e2e::now_ms() + 10000;
	while (run.loadkmap_log().empty() && e2e::now_ms() < deadline)
		e2e::pause_ms(5);
	ASSERT_EQ(run.loadkmap_log(), "start ps2\n");
	kill(run.pid, SIGINT);
	// The signal has been taken (recorded, not acted on yet) once it is no
	// longer pending; only then is the command let go.
	ASSERT_TRUE(run.wait_in_syscall({SYS_wait4}));
	FILE *flag = fopen(go.c_str(), "w");
	ASSERT_NE(flag, nullptr);
	fclose(flag);
	auto result = run.wait_exit();
	EXPECT_TRUE(result.exited) << "ended by signal " << result.status << " or hung";
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(run.stdout_text(), e2e::signal_text(SIGINT));
	EXPECT_EQ(run.loadkmap_log(), "start ps2\nend ps2\nstart zeta\nend zeta\n");
}

} // namespace
