// Storage of the pending stop; see stop_request.h.
#include "core/stop_request.h"

volatile sig_atomic_t stop_signal = 0;

void reset_stop_request()
{
	stop_signal = 0;
}
