// Where the daemon's messages go while it runs.
//
// In the foreground every message goes to standard output, as it always
// has, flushed at once so that a log pipe sees it when it happens. Once the
// daemon has detached (-b), standard output is /dev/null: from then on the
// messages go to the system log instead (facility daemon, ident
// "ps2linkd"), each with the priority that fits it. Where no syslog daemon
// listens on /dev/log they are lost, as they were before.
#pragma once

#include <syslog.h>

// False until the daemon detaches.
extern bool messages_to_syslog;

// From now on messages go to the system log.
void send_messages_to_syslog();

// Back to standard output, as before start-up. The log is not closed.
void reset_message_log();

// One message: printf-style text ending in a newline. The priority counts
// only for the system log.
void print_message(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));
