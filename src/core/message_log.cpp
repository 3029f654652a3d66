// Messages to standard output or the system log; see message_log.h.
#include "core/message_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/settings.h"

bool messages_to_syslog = false;

void send_messages_to_syslog()
{
	// Connected now, so that no message has to wait for the socket.
	openlog(default_program_name, LOG_PID | LOG_NDELAY, LOG_DAEMON);
	messages_to_syslog = true;
}

void reset_message_log()
{
	messages_to_syslog = false;
}

void print_message(int priority, const char *format, ...)
{
	va_list arguments;
	va_start(arguments, format);
	if (messages_to_syslog) {
		// The log takes lines without their newline.
		char text[256];
		(void)vsnprintf(text, sizeof text, format, arguments);
		text[strcspn(text, "\n")] = '\0';
		syslog(priority, "%s", text);
	} else {
		(void)vprintf(format, arguments);
		(void)fflush(stdout);
	}
	va_end(arguments);
}
