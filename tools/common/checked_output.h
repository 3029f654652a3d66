// What a tool writes must arrive whole, or the tool must say it did not.
//
// A capture cut short by a full disk, or a trace sent to a pipe that broke,
// looks whole to whoever reads it later; stdio keeps the failure in the
// stream's error flag and the exit status says nothing. So every file a
// tool writes is checked when it is flushed and when it is closed, and a
// failure names the file and the cause and ends the tool with status 1.
// Plain C strings only, so that the tools built without a C++ runtime can
// use it.
#pragma once

#include <cstdio>

// Status 1 once stream has failed a write or fails to flush now:
// "PROGRAM: cannot write NAME: CAUSE" on standard error.
void check_written(const char *program, FILE *stream, const char *name);

// check_written, then closes stream, the close checked as well.
void close_written(const char *program, FILE *stream, const char *name);

// From now on, exit closes standard output the checked way, whatever path
// the tool leaves by (its usage text too): a write that failed turns the
// tool's status into 1. Call once, first thing in main.
void check_standard_output_at_exit(const char *program);
