// Start-up, command line, serial line and frame loop of the real daemon.
#include "harness.h"

namespace {

using e2e::daemon_config;
using e2e::daemon_run;

TEST(spine, keyboard_frame_reaches_the_keyboard_device)
{
	E2E_REQUIRE_NAMESPACES();
	daemon_run run({});
	ASSERT_TRUE(run.start());
	run.send_key_frame({0x1C});
	EXPECT_EQ(run.wait_device_text("kbd", 7), " 30 1 \n");
	auto result = run.stop();
	EXPECT_TRUE(result.exited);
	EXPECT_EQ(result.status, 1);
}

} // namespace
