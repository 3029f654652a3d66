// Shared ground for the key map, keyboard and joystick tests.
//
// The translation code writes to process-wide streams and keeps its state in
// process-wide tables. These helpers point the keyboard device and the
// adapter at memory streams, reset every table between cases, build frames
// with a correct checksum and load key maps from text, so that a test can
// compare the exact bytes a device would have received.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "serial/frame_reader.h"
#include "core/settings.h"
#include "core/stop_request.h"
#include "joystick/joystick_frame.h"
#include "keyboard/key_map.h"
#include "keyboard/key_output.h"
#include "keyboard/keyboard_frame.h"
#include "serial/serial_line.h"

// Payload bytes 1..4 of a frame, as the adapter sends them.
using payload = std::array<uint8_t, 4>;

inline serial_frame frame_of(uint8_t header, const payload &bytes)
{
	serial_frame frame = {header, bytes[0], bytes[1], bytes[2], bytes[3], 0};
	frame[5] = frame_checksum(frame);
	return frame;
}

// The sample key map shipped in etc/, found from this file's own place in
// the source tree.
inline std::string sample_key_map_path()
{
	std::string here = __FILE__;
	return here.substr(0, here.rfind("/tests/unit/")) + "/etc/ser_code_vantor.ini";
}

// Loads key map text through the real line reader, as from a file.
inline void load_key_map_text(const std::string &text, key_map_observer observer = nullptr,
			      void *context = nullptr)
{
	clear_key_tables();
	if (text.empty())
		return; // an empty memory stream cannot be opened; nothing to read anyway
	FILE *stream = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
	ASSERT_NE(stream, nullptr);
	EXPECT_EQ(load_key_map_stream(stream, observer, context), 0);
	fclose(stream);
}

// Everything that would reach the keyboard device and the adapter.
struct captured_devices {
	FILE *stream = nullptr;
	char *data = nullptr;
	size_t size = 0;
};

inline void open_capture(captured_devices &capture)
{
	capture.stream = open_memstream(&capture.data, &capture.size);
	ASSERT_NE(capture.stream, nullptr);
}

inline void close_capture(captured_devices &capture)
{
	if (capture.stream)
		fclose(capture.stream);
	free(capture.data);
	capture = captured_devices{};
}

inline std::string captured_bytes(captured_devices &capture)
{
	fflush(capture.stream);
	return std::string(capture.data, capture.size);
}

// A fresh daemon for every case: empty tables, no keys held, lights off,
// no Pause tail pending, no joystick button down, text form on "/dev/kbd".
class device_test : public ::testing::Test {
protected:
	captured_devices keys;
	captured_devices adapter;

	void SetUp() override { reset_daemon(false); }
	void TearDown() override
	{
		key_out = nullptr;
		adapter_out = nullptr;
		close_capture(keys);
		close_capture(adapter);
		use_keypipe = false;
		clear_key_tables();
		joystick_keys.fill(0);
	}

	void reset_daemon(bool raw_form)
	{
		close_capture(keys);
		close_capture(adapter);
		open_capture(keys);
		open_capture(adapter);
		key_out = keys.stream;
		adapter_out = adapter.stream;
		use_keypipe = raw_form;
		stop_signal = 0;
		clear_key_tables();
		joystick_keys.fill(0);
		joystick_previous = 0;
		skip_frames = 0;
		led_state = 0;
		modifier_state = 0;
	}

	std::string key_bytes() { return captured_bytes(keys); }
	std::string adapter_bytes() { return captured_bytes(adapter); }
};
