// Telling a service manager how the daemon's start and stop go.
//
// Under systemd (Type=notify) the unit counts as started only once the
// daemon says so, so a start that fails before every device is open shows
// as a failed start rather than as a clean stop. The service manager gives
// the address of a datagram socket in NOTIFY_SOCKET: a path, or an
// abstract name written with a leading '@'. The daemon sends "READY=1" on
// it once every device is open, just before the frame loop, and
// "STOPPING=1" when a stop begins. Without NOTIFY_SOCKET, or after -b (the
// detached child is not the process the manager started), nothing is sent.
#pragma once

#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>

inline constexpr std::string_view ready_notice = "READY=1";
inline constexpr std::string_view stopping_notice = "STOPPING=1";

// Where the notices go. address_length 0: no service manager listens.
struct service_manager_link {
	sockaddr_un address{};
	socklen_t address_length = 0;
};
extern service_manager_link service_manager;

// Reads NOTIFY_SOCKET, once, at start-up. A value that is neither a path
// nor an abstract name, or too long for a socket address, is ignored.
void find_service_manager();

// Sends one notice, when a service manager listens; its result is not
// looked at: a manager that is gone has nothing to hear.
void notify_service_manager(std::string_view notice);

// No service manager: the state before start-up.
void reset_service_manager();
