// The daemon's start-up for a run inside another program; see in_process.h.
#include "daemon/in_process.h"

#include "core/settings.h"
#include "daemon/options.h"

in_process_outcome start_in_process(const in_process_start &start)
{
	const char *const command_line[] = {default_program_name, start.options, nullptr};
	const bool from_options = start.options != nullptr;
	if (parse_options(from_options ? 2 : start.argc, from_options ? command_line : start.argv) !=
	    option_outcome::run)
		return in_process_outcome::options_refused;
	if (run_start_up_steps(&start.given) == -1)
		return in_process_outcome::start_failed;
	return in_process_outcome::started;
}
