// Running a layout command; see layout_command.h.
#include "daemon/layout_command.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

void run_layout_command(const char *command)
{
	pid_t child = fork();
	if (child == -1)
		return; // no command ran; the layout stays as it is
	if (child == 0) {
		// The shell and loadkmap start as from a shell: a broken pipe ends
		// them as it would anywhere else. The caught signals go back to
		// their defaults at exec.
		(void)signal(SIGPIPE, SIG_DFL);
		execl("/bin/sh", "sh", "-c", command, static_cast<char *>(nullptr));
		_exit(127);
	}
	// The wait may be interrupted by a stop signal or by the interrupting
	// timer of a pending stop; the command is still ours to wait for.
	while (waitpid(child, nullptr, 0) == -1 && errno == EINTR) {
	}
}
