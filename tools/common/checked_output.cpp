// Checked flushes and closes for the tools; see checked_output.h.
#include "checked_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

struct checked_output_state {
	const char *program = nullptr; // named by the exit check
	bool failure_reported = false; // a failure said once is not said again at exit
};
checked_output_state checked_output;

[[noreturn]] void fail_written(const char *program, const char *name, int cause)
{
	fprintf(stderr, "%s: cannot write %s: %s\n", program, name,
		cause != 0 ? strerror(cause) : "a write failed");
	checked_output.failure_reported = true;
	exit(1);
}

// Runs at exit, after main: exit() may not be called again from here.
void close_standard_output()
{
	bool failed = fflush(stdout) != 0 || ferror(stdout);
	int cause = errno;
	if (fclose(stdout) != 0 && !failed) {
		failed = true;
		cause = errno;
	}
	if (!failed || checked_output.failure_reported)
		return;
	fprintf(stderr, "%s: cannot write standard output: %s\n", checked_output.program,
		cause != 0 ? strerror(cause) : "a write failed");
	_exit(1);
}

} // namespace

void check_written(const char *program, FILE *stream, const char *name)
{
	// errno is left as it is: a write that failed inside an earlier stdio
	// call set it, and the stream keeps only its error flag.
	if (fflush(stream) != 0 || ferror(stream))
		fail_written(program, name, errno);
}

void close_written(const char *program, FILE *stream, const char *name)
{
	check_written(program, stream, name);
	if (fclose(stream) != 0)
		fail_written(program, name, errno);
}

void check_standard_output_at_exit(const char *program)
{
	checked_output.program = program;
	if (atexit(close_standard_output) != 0)
		fail_written(program, "standard output", errno);
}
