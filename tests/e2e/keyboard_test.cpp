// Which key map the real daemon loads at start-up, and what it does when the
// map is missing: the default map, the console map with its layout switch,
// and the map named with -m. A missing default map is a row of
// spine_start_up.failures_table. What the daemon makes of keys and buttons once
// it runs is in the transcripts (tests/transcripts/), which the replay in
// transcript_replay_test.cpp also runs against this binary.
#include "harness.h"

#include "daemon/startup.h"

#include <cstdio>
#include <string>

namespace {

using e2e::daemon_config;
using e2e::daemon_run;

const std::string key_map_not_found = key_map_missing_message;

// A press and release of key "a" (1C), and the text events of the key code
// its map lines give it.
bool tap_a(daemon_run &run)
{
	std::vector<uint8_t> frames = e2e::key_frame({0x1C});
	for (uint8_t byte : e2e::key_frame({0xF0, 0x1C}))
		frames.push_back(byte);
	return run.send_and_wait(frames);
}

std::string pressed_and_released(int code)
{
	std::string c = std::to_string(code);
	return " " + c + " 1 \n " + c + " 0 \n";
}

void put_file(const std::string &path, const std::string &text)
{
	FILE *file = fopen(path.c_str(), "wb");
	ASSERT_NE(file, nullptr) << path;
	fwrite(text.data(), 1, text.size(), file);
	fclose(file);
}

// Ends a session with SIGTERM; the daemon leaves through its clean-up with
// status 1, and nothing it did on the way tripped a memory or UB check.
void expect_stopped_by_signal(daemon_run &run)
{
	auto result = run.stop();
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(run.stderr_text().find("Sanitizer"), std::string::npos) << run.stderr_text();
	EXPECT_EQ(run.stderr_text().find("runtime error"), std::string::npos) << run.stderr_text();
}

// Runs a daemon whose key map is missing to its end: status 1, the one
// message, and no switch to the console layout.
void expect_key_map_not_found(daemon_run &run)
{
	auto result = e2e::run_to_end(run);
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(run.stdout_text(), key_map_not_found);
	EXPECT_EQ(run.loadkmap_log().find("loadkmap ps2"), std::string::npos);
}

TEST(keyboard_startup, console_mode_loads_the_console_map_and_the_ps2_layout)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.key_map = "1C a - 1E\n";
	config.console_key_map = "1C a - 2E\n";
	config.arguments = {"-c"};
	daemon_run run(config);
	ASSERT_TRUE(run.start());
	EXPECT_EQ(run.loadkmap_log(), "loadkmap ps2\n");
	ASSERT_TRUE(tap_a(run));
	EXPECT_EQ(run.device_text("kbd"), pressed_and_released(0x2E));
	expect_stopped_by_signal(run);
}

TEST(keyboard_startup, console_mode_without_its_map_ends_before_the_layout_switch)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_config config;
	config.console_key_map.reset(); // the default map alone does not do
	config.arguments = {"-c"};
	daemon_run run(config);
	expect_key_map_not_found(run);
}

struct mode_case {
	const char *legend;
	std::vector<std::string> arguments;
	const char *layout_log; // what loadkmap got at start-up
};

const mode_case both_modes[] = {
	{"plain", {"-m", "/etc/custom.kmap"}, ""},
	{"console", {"-c", "-m", "/etc/custom.kmap"}, "loadkmap ps2\n"},
};

TEST(keyboard_startup, key_map_option_replaces_the_default_and_the_console_map)
{
	E2E_REQUIRE_NAMESPACES();
	for (const mode_case &mode : both_modes) {
		SCOPED_TRACE(mode.legend);
		daemon_config config;
		config.key_map = "1C a - 1E\n";
		config.console_key_map = "1C a - 2E\n";
		config.arguments = mode.arguments;
		daemon_run run(config);
		put_file(run.etc("custom.kmap"), "1C a - 3E\n");
		ASSERT_TRUE(run.start());
		EXPECT_EQ(run.loadkmap_log(), mode.layout_log);
		ASSERT_TRUE(tap_a(run));
		EXPECT_EQ(run.device_text("kbd"), pressed_and_released(0x3E));
		expect_stopped_by_signal(run);
	}
}

TEST(keyboard_startup, missing_key_map_option_file_ends_the_daemon)
{
	E2E_REQUIRE_NAMESPACES();
	for (const mode_case &mode : both_modes) {
		SCOPED_TRACE(mode.legend);
		daemon_config config;
		config.arguments = mode.arguments; // the defaults are there, custom.kmap is not
		daemon_run run(config);
		expect_key_map_not_found(run);
	}
}

} // namespace
