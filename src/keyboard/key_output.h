// Key events out to the handheld: the one seam every key event passes.
//
// Without -V an event is a text line " code down \n" on the keyboard device;
// with -V it is two raw bytes, code and down, on the key-injection device.
// Either is flushed at once.
#pragma once

#include <cstdio>

extern FILE *key_out; // null until start-up opens it

// No stream: the state before start-up. The stream is not closed here.
void reset_key_output();

void send_key(int code, int down);
void write_key_raw(int code, int down);
void write_key_text(int code, int down);
