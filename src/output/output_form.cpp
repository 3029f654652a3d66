// The output form in use; see output_form.h.
#include "output/output_form.h"

#include <fcntl.h>

#include "core/stop_request.h"

const output_form *output = &key_text_form;

// Set at exit once the streams no longer block.
static bool output_unblocked = false;

void reset_output()
{
	output = &key_text_form;
	output_unblocked = false;
}

bool output_may_write()
{
	return !stop_pending() || output_unblocked;
}

void unblock_stream(FILE *stream)
{
	output_unblocked = true;
	if (!stream)
		return;
	int fd = fileno(stream);
	int flags = fcntl(fd, F_GETFL);
	if (flags != -1)
		(void)fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}
