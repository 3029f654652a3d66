/* Included ahead of every file of the handheld's musl build. libstdc++'s
 * configuration header asks for glibc's version with __GLIBC_PREREQ; musl
 * defines no such macro, and there is no glibc here. */
#ifndef __GLIBC_PREREQ
#define __GLIBC_PREREQ(major, minor) 0
#endif
