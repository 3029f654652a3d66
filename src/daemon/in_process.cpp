// The daemon's start-up for a run inside another program; see in_process.h.
#include "daemon/in_process.h"

#include "daemon/options.h"

in_process_outcome start_in_process(const in_process_start &start)
{
	if (parse_options(start.argc, start.argv) != option_outcome::run)
		return in_process_outcome::options_refused;
	if (run_start_up_steps(&start.given) == -1)
		return in_process_outcome::start_failed;
	return in_process_outcome::started;
}
