// The notices to a service manager; see readiness.h.
#include "core/readiness.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

service_manager_link service_manager;

void find_service_manager()
{
	service_manager = {};
	// The service manager's documented interface for readiness, which no
	// command-line option stands for. (The daemon reads one other variable,
	// the manager's JOURNAL_STREAM: message_log.cpp.)
	const char *name = getenv("NOTIFY_SOCKET");
	if (!name || (name[0] != '/' && name[0] != '@'))
		return;
	const size_t length = strlen(name);
	// A path keeps its terminating NUL inside the address.
	if (length >= sizeof service_manager.address.sun_path)
		return;
	service_manager.address.sun_family = AF_UNIX;
	memcpy(service_manager.address.sun_path, name, length);
	size_t address_bytes = length + 1;
	if (name[0] == '@') {
		// An abstract name: a NUL in place of the '@', and the address
		// ends with the name's last byte, no NUL after it.
		service_manager.address.sun_path[0] = '\0';
		address_bytes = length;
	}
	service_manager.address_length =
		static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address_bytes);
}

void notify_service_manager(std::string_view notice)
{
	if (service_manager.address_length == 0)
		return;
	// Not SOCK_CLOEXEC, which the handheld's kernel predates: the socket
	// lives only for this call, and nothing forks meanwhile.
	const int socket_fd = socket(AF_UNIX, SOCK_DGRAM, 0);
	if (socket_fd < 0)
		return;
	(void)sendto(socket_fd, notice.data(), notice.size(), 0,
		     reinterpret_cast<const sockaddr *>(&service_manager.address),
		     service_manager.address_length);
	close(socket_fd);
}

void reset_service_manager()
{
	service_manager = {};
}
