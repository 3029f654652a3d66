// A world of its own for a program whose paths are fixed.
//
// The daemon opens /dev/kbd, /dev/ts, /dev/fb0, /etc/pointercal and its key
// map under /opt, and nothing can tell it otherwise. To run it on a
// development machine without touching the machine's own files, it gets a
// mount namespace in which /dev, /etc and /opt are overlays: the machine's
// directories below, the run's directories ROOT/dev, ROOT/etc and ROOT/opt
// above. Whatever the program creates or changes there lands in those
// directories, where a process outside sees it. The pseudo-terminals stay
// the machine's (/dev/pts is bound back over the overlay), so a terminal
// opened outside is the same terminal inside.
//
// As root the world is a mount namespace. A normal user gets a user
// namespace as well, in which they are root for the mounts only (uid 0
// inside is their own uid outside; overlays there need Linux 5.11). The
// kernel then refuses the machine's /dev as a lower layer (its submounts,
// /dev/pts and /dev/shm, are locked to the namespace that made them), and
// device nodes never open through an overlay made in a user namespace. So
// for a normal user the lower layer of /dev is ROOT/dev.lower: links to the
// few devices a program needs (null, zero, full, random, urandom, tty, ptmx)
// in ROOT/host.dev, a recursive bind of the machine's /dev, and the usual
// links to /proc/self/fd. Device nodes cannot be made there (mknod needs the
// machine's root): stand-ins are FIFOs and regular files.
#pragma once

#include <string>

// Creates ROOT's directories. ROOT itself must exist and be an absolute
// path, the same inside and outside. False (errno set) when one fails.
bool prepare_world(const std::string &root);

// A socket the caller binds at ROOT/log.socket before entering is the
// world's /dev/log, its system log.
//
// Moves the calling process into the world at ROOT, prepared before: new
// namespaces and the mounts. It changes the process for good, so call it in
// a child that then runs the program. Returns null, or the step that failed
// with errno telling why.
const char *enter_world(const std::string &root);

// Null when this machine lets this user make a world; otherwise why not:
// the step the kernel refused and its reason. Tried once, in a child and a
// scratch directory, and remembered.
const char *world_unavailable();

// Removes ROOT and everything below it (the overlays' work directories
// included). The world's mounts go with the last process inside.
void remove_world(const std::string &root);
