// The handheld's own key devices: a stdio stream of key events.
//
// Without -V an event is a text line " code down \n" on the keyboard device
// (key_text.cpp); with -V two raw bytes, code and down, on the
// key-injection device (key_pipe.cpp). Both are flushed at once. The
// handheld has no key code for some keys: those are sent wrapped in key
// code 30, with the shift key (27) let go around them while it is held.
#pragma once

#include <cstdio>

#include "output/output_form.h"

extern FILE *key_out; // null until start-up opens it

// No stream: the state before start-up. The stream is not closed here.
void reset_key_stream();

// One key event in a stream form: the wrapped key's events, or one event,
// each through write_one. Nothing once a stop is pending or without a
// stream (a consumer that stopped reading would block the write with
// nothing left to wake it).
void send_stream_key(const key_event &event, void (*write_one)(int code, int down));

// Writes a release for every key code this stream last wrote down (in
// ascending order), the keyboard's or every one.
void release_stream_keys(release_scope scope, void (*write_one)(int code, int down));

// Start-up of a stream form: the touch device first (with -M), then the key
// device at path. 0, or -1 when one cannot be opened.
[[nodiscard]] int open_key_streams(bool with_pointer, const char *path);
// Start-up of a stream form on a caller's streams: touches (with -M) and
// keys, taken as they are (null: none).
void attach_key_streams(bool with_pointer, FILE *keys, FILE *touches);
// Exit: the key device first, as it was opened last, then the touch device.
void close_key_streams();

// Exit: both streams (keys and touches) made non-blocking, writes allowed.
void unblock_streams();

