// The transcripts of tests/transcripts/ replayed against the real binary:
// the same key map, calibration and options, the same input bytes down the
// serial line, and the same bytes expected on every device. Whatever the
// in-process run shows must also hold for the process on its devices.
//
//   transcript_replay_tests SOURCE_ROOT FILE...   one test per file
//
// Every device is a plain file, opened or not, so that a byte written where
// none belongs shows up. Events are flushed one by one, so the key and touch
// devices are compared while the daemon still runs, and again after it
// ended, as is everything that arrived late on the line.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "transcript.h"

namespace {

using e2e::daemon_config;
using e2e::daemon_run;
using e2e::device_kind;

constexpr auto kbd = static_cast<std::size_t>(transcript_device::kbd);
constexpr auto keypipe = static_cast<std::size_t>(transcript_device::keypipe);
constexpr auto ts = static_cast<std::size_t>(transcript_device::ts);
constexpr auto adapter = static_cast<std::size_t>(transcript_device::adapter);
constexpr auto printed = static_cast<std::size_t>(transcript_device::stdout_text);

std::string source_root;

// While the daemon runs a device has received a beginning of its expected
// bytes (the releases of keys still held come with the exit); once it has
// ended, all of them.
void expect_device(const transcript &t, std::size_t device, const std::string &received,
		   const char *when, bool all = true)
{
	const std::string &expected = t.expected[device];
	if (all ? received == expected : expected.compare(0, received.size(), received) == 0)
		return;
	transcript_result only;
	only.received = t.expected;
	only.received[device] = received;
	ADD_FAILURE() << when << ":\n" << compare_transcript(t, only);
}

void replay(const std::string &path)
{
	E2E_REQUIRE_NAMESPACES();
	transcript t;
	std::string error;
	ASSERT_TRUE(read_transcript(path, source_root, t, error)) << error;

	daemon_config config;
	config.arguments = t.options;
	config.key_map = t.key_map;
	config.console_key_map = t.key_map; // -c loads the console map: the same
	config.pointercal = t.pointercal;
	config.kbd = device_kind::file;
	config.keypipe = device_kind::file;
	config.ts = device_kind::file;
	daemon_run run(config);
	ASSERT_TRUE(run.start());
	ASSERT_TRUE(run.send_and_wait(all_input(t)));

	const char *running = "while the daemon runs";
	const char *ended = "after the daemon ended";
	std::string line = e2e::bytes_text(run.read_adapter(t.expected[adapter].size()));
	expect_device(t, printed, run.stdout_text(), running); // before the stop adds its message
	expect_device(t, kbd, run.device_text("kbd"), running, false);
	expect_device(t, ts, run.device_text("ts"), running, false);
	expect_device(t, keypipe, run.device_text("keypipe"), running, false);

	e2e::exit_result result = run.stop();
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
	EXPECT_EQ(run.stderr_text().find("Sanitizer"), std::string::npos) << run.stderr_text();
	EXPECT_EQ(run.stderr_text().find("runtime error"), std::string::npos) << run.stderr_text();
	expect_device(t, adapter, line + e2e::bytes_text(run.read_adapter_pending()), ended);
	expect_device(t, kbd, run.device_text("kbd"), ended);
	expect_device(t, ts, run.device_text("ts"), ended);
	expect_device(t, keypipe, run.device_text("keypipe"), ended);
}

class replay_test : public testing::Test {
public:
	explicit replay_test(std::string file) : path(std::move(file)) {}
	void TestBody() override { replay(path); }

private:
	std::string path;
};

} // namespace

int main(int argc, char **argv)
{
	testing::InitGoogleTest(&argc, argv);
	if (argc < 3) {
		fprintf(stderr, "usage: %s SOURCE_ROOT FILE...\n", argv[0]);
		return 2;
	}
	source_root = argv[1];
	for (int i = 2; i < argc; ++i) {
		std::string file = argv[i];
		std::string name = file.substr(file.rfind('/') + 1);
		testing::RegisterTest("transcript", name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
				      [file]() -> testing::Test * { return new replay_test(file); });
	}
	return RUN_ALL_TESTS();
}
