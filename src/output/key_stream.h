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
#include "output/touch_text.h"

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
// device at path. 0, or -1 when one cannot be opened. With given, the
// caller's streams are taken as they are instead (null: none): its touch
// stream and the key stream that given_keys names.
[[nodiscard]] int open_key_streams(bool with_pointer, const given_output_devices *given,
				   const char *path, FILE *given_output_devices::*given_keys);
// Exit: the key device first, as it was opened last, then the touch device.
void close_key_streams();

// Exit: both streams (keys and touches) made non-blocking, writes allowed.
void unblock_streams();

// What the handheld's devices leave out: they declare no key code (every
// code goes), take the mouse only as a touch at the pointer's place, and
// nobody but the daemon sets the keyboard's lights.
void declare_no_stream_key(uint32_t value);
void send_no_stream_motion(int dx, int dy, unsigned buttons);
bool take_no_stream_lights(unsigned &led_bits);

using write_stream_key = void (*)(int code, int down);

template <write_stream_key write_one>
void send_key_with(const key_event &event)
{
	send_stream_key(event, write_one);
}

template <write_stream_key write_one>
void release_keys_with(release_scope scope)
{
	release_stream_keys(scope, write_one);
}

template <const char *const *path, FILE *given_output_devices::*given_keys>
int open_key_streams_at(bool with_pointer, const given_output_devices *given)
{
	return open_key_streams(with_pointer, given, *path, given_keys);
}

// A stream form's record: everything the two stream forms share, around
// what tells them apart: the bytes of one event, the device they open (or
// the caller's stand-in for it).
template <write_stream_key write_one, const char *const *path,
	  FILE *given_output_devices::*given_keys>
[[nodiscard]] constexpr output_form make_stream_form()
{
	return {
		.keeps_pointer = true,
		.lights_follow_keys = true,
		.declare_key = declare_no_stream_key,
		.open = open_key_streams_at<path, given_keys>,
		.send_key = send_key_with<write_one>,
		.send_touch = send_touch_line,
		.send_motion = send_no_stream_motion,
		.take_lights = take_no_stream_lights,
		.release_keys = release_keys_with<write_one>,
		.unblock = unblock_streams,
		.close = close_key_streams,
	};
}

