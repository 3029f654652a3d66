// The output form in use; see output_form.h.
#include "output/output_form.h"

#include <fcntl.h>
#include <unistd.h>

#include "core/stop_request.h"

output_state outputs;

void reset_output()
{
	outputs = {};
}

bool output_may_write()
{
	return !stop_pending() || outputs.unblocked;
}

void unblock_stream(FILE *stream)
{
	outputs.unblocked = true;
	if (!stream)
		return;
	int fd = fileno(stream);
	int flags = fcntl(fd, F_GETFL);
	if (flags != -1)
		(void)fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

FILE *open_device_stream(const char *path)
{
	int fd = open(path, O_WRONLY | O_NOCTTY);
	if (fd == -1)
		return nullptr;
	FILE *stream = fdopen(fd, "w");
	if (!stream)
		(void)close(fd);
	return stream;
}
