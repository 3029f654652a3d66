// Who listens to the daemon's reports; see frame_observer.h.
#include "serial/frame_observer.h"

frame_observer_state frame_observation;

void set_frame_observer(frame_observer observer, void *context)
{
	frame_observation = {observer, context};
}
