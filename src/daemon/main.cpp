// ps2linkd: external PS/2 keyboard, mouse and joystick for the handheld,
// through the serial adapter.
#include "daemon/startup.h"

int main(int argc, char **argv)
{
	run_daemon(argc, argv);
}
