// Messages to standard output or the system log; see message_log.h.
#include "core/message_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "core/settings.h"

bool messages_to_syslog = false;
bool messages_to_journal = false;

namespace {

// A decimal number that ends at the stop character; false for anything else.
bool read_decimal(const char *text, char stop, unsigned long long &value, const char *&end)
{
	if (*text < '0' || *text > '9')
		return false;
	char *after = nullptr;
	errno = 0;
	value = strtoull(text, &after, 10);
	end = after;
	return errno == 0 && *after == stop;
}

} // namespace

void notice_journal_output()
{
	messages_to_journal = false;
	const char *stream = getenv("JOURNAL_STREAM");
	unsigned long long device = 0, inode = 0;
	const char *end = nullptr;
	if (!stream || !read_decimal(stream, ':', device, end) || !read_decimal(end + 1, '\0', inode, end))
		return;
	struct stat output{};
	if (fstat(STDOUT_FILENO, &output) == -1)
		return;
	messages_to_journal = output.st_dev == device && output.st_ino == inode;
}

void send_messages_to_syslog()
{
	// Connected now, so that no message has to wait for the socket.
	openlog(default_program_name, LOG_PID | LOG_NDELAY, LOG_DAEMON);
	messages_to_syslog = true;
}

void reset_message_log()
{
	messages_to_syslog = false;
	messages_to_journal = false;
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
