// Stops that come at awkward moments: while start-up waits in a step, while
// console mode's layout command runs, and signals the daemon must not catch.
// Whatever the moment, a stop signal ends the daemon with its one message and
// status 1; any other fatal signal ends it by that signal.
#include "harness.h"

#include <csignal>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>

namespace {

using e2e::daemon_config;
using e2e::daemon_run;

// The timer that interrupts blocked calls during a stop sends SIGALRM; the
// daemon catches it only once a stop is pending. Before that SIGALRM keeps
// its default effect: the daemon ends by it, without message or clean-up.
TEST(stop, sigalrm_is_not_caught_while_running)
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
TEST(stop, during_the_calibration_open_prints_only_the_stop)
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
TEST(stop, sigint_during_the_start_up_layout_command_is_not_lost)
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
