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
// True when standard output is the journal (systemd runs the daemon in the
// foreground): its messages go there as on a terminal, but a flood of them
// is kept to the system log's pace.
extern bool messages_to_journal;

// Sets messages_to_journal: systemd names the stream it connects to
// standard output in JOURNAL_STREAM ("DEV:INO", decimal). The variable
// alone proves nothing, since children of a journalled service inherit
// it: standard output must be that very file.
void notice_journal_output();

// From now on messages go to the system log.
void send_messages_to_syslog();

// Back to standard output, as before start-up, and not the journal. The
// log is not closed.
void reset_message_log();

// One message: printf-style text ending in a newline. The priority counts
// only for the system log.
void print_message(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));
