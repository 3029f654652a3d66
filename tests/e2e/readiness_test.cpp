// The daemon's notices to a service manager (core/readiness.h), seen on a
// datagram socket that stands in for systemd's: bound by path in the test's
// world, or by an abstract name, and given to the daemon in NOTIFY_SOCKET.
#include "harness.h"

#include <cstddef>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Every datagram waiting on the socket, without waiting for more.
std::vector<std::string> notices_on(int socket_fd)
{
	std::vector<std::string> notices;
	char buffer[256];
	ssize_t got;
	while ((got = recv(socket_fd, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0)
		notices.emplace_back(buffer, static_cast<std::size_t>(got));
	return notices;
}

TEST(readiness, notices_table)
{
	E2E_REQUIRE_NAMESPACES();
	using notices = std::vector<std::string>;
	struct row {
		const char *legend;
		char name_kind; // '/' a path, '@' an abstract name
		bool given, detach, key_map, heard; // NOTIFY_SOCKET set, -b, a key map there
	};
	const std::vector<row> rows = {
		{"path: ready once the devices are open, stopping on SIGTERM", '/', true, false, true, true},
		{"abstract name: the same", '@', true, false, true, true},
		{"NOTIFY_SOCKET unset: nothing", '/', false, false, true, false},
		{"-b: the detached child is no unit's main process, nothing", '/', true, true, true, false},
		{"a failed start: never ready, nothing", '/', true, false, false, false},
	};
	for (const row &r : rows) {
		SCOPED_TRACE(r.legend);
		e2e::daemon_config config;
		if (r.detach)
			config.arguments = {"-b"};
		if (!r.key_map)
			config.key_map.reset();
		e2e::daemon_run run(config);
		// The abstract name is the world's directory name with a '@'.
		const std::string name = r.name_kind == '/' ? run.root + "/notify"
							    : "@" + run.root.substr(5);
		sockaddr_un address{AF_UNIX, {}};
		name.copy(address.sun_path, name.size());
		address.sun_path[0] = name[0] == '@' ? '\0' : '/';
		const int socket_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
		ASSERT_EQ(bind(socket_fd, reinterpret_cast<sockaddr *>(&address),
			       static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())), 0);
		if (r.given)
			run.config.environment.push_back("NOTIFY_SOCKET=" + name);

		if (!r.key_map) {
			EXPECT_EQ(e2e::run_to_end(run).status, 1);
		} else {
			ASSERT_TRUE(run.start());
			EXPECT_EQ(notices_on(socket_fd), r.heard ? notices{"READY=1"} : notices{});
			EXPECT_EQ(run.stop().status, 1);
		}
		EXPECT_EQ(notices_on(socket_fd), r.heard ? notices{"STOPPING=1"} : notices{});
		close(socket_fd);
	}
}

} // namespace
