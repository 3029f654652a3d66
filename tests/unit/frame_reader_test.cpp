// Frame synchronisation and checksum rules of the adapter's six-byte frames.
#include <gtest/gtest.h>

#include <vector>

#include "serial/frame_reader.h"

namespace {

struct fed_result {
	std::vector<frame_event> events;
	std::vector<frame_kind> kinds; // kind of every good frame
};

fed_result feed(const std::vector<uint8_t> &bytes, bool mouse = false)
{
	frame_reader reader;
	fed_result result;
	for (uint8_t byte : bytes) {
		frame_event event = feed_frame_byte(reader, byte, mouse);
		if (event == frame_event::none)
			continue;
		result.events.push_back(event);
		if (event == frame_event::good)
			result.kinds.push_back(reader.kind);
	}
	return result;
}

using E = frame_event;
using K = frame_kind;

struct sync_case {
	const char *legend;
	std::vector<uint8_t> bytes;
	bool mouse;
	std::vector<frame_event> events;
	std::vector<frame_kind> kinds;
};

const sync_case sync_cases[] = {
	{"one keyboard frame", {0x4B, 0x01, 0x1C, 0x00, 0x00, 0x1D}, false, {E::good}, {K::keyboard}},
	{"leading garbage dropped", {0x00, 0xFF, 0x4C, 0x4B, 0x01, 0x1C, 0x00, 0x00, 0x1D}, false,
	 {E::good}, {K::keyboard}},
	{"checksum wraps", {0x4A, 0xFF, 0xFF, 0x01, 0x01, 0x00}, false, {E::good}, {K::joystick}},
	{"all-zero payload", {0x4A, 0x00, 0x00, 0x00, 0x00, 0x00}, false, {E::good}, {K::joystick}},
	{"checksum off by one, next byte is a frame start",
	 {0x4B, 0x01, 0x1C, 0x00, 0x00, 0x1E, 0x4A, 0, 1, 0, 0, 1}, false,
	 {E::bad_checksum, E::good}, {K::joystick}},
	{"header values inside a frame are data", {0x4B, 0x4B, 0x4D, 0x4A, 0x00, 0xE2}, true,
	 {E::good}, {K::keyboard}},
	{"kind follows each header",
	 {0x4B, 1, 0x1C, 0, 0, 0x1D, 0x4A, 0, 1, 0, 0, 1, 0x4B, 1, 0x1C, 0, 0, 0x1D}, false,
	 {E::good, E::good, E::good}, {K::keyboard, K::joystick, K::keyboard}},
	{"mouse frame with the mouse on", {0x4D, 0x00, 0x08, 0x05, 0x00, 0x0D}, true, {E::good},
	 {K::mouse}},
	{"mouse frame with the mouse off is dropped whole, then the next frame is found",
	 {0x4D, 0x00, 0x08, 0x4B, 0x00, 0x53, 0x4A, 0, 1, 0, 0, 1}, false,
	 {E::dropped, E::good}, {K::joystick}},
	{"a cut frame absorbs the next one's start; the rest is searched again",
	 {0x4B, 0x01, 0x1C, 0x4A, 0x00, 0x02, 0x00, 0x00, 0x02, 0x4A, 0, 1, 0, 0, 1}, false,
	 {E::bad_checksum, E::good}, {K::joystick}},
};

TEST(frame_reader, synchronisation_table)
{
	for (const sync_case &c : sync_cases) {
		SCOPED_TRACE(c.legend);
		fed_result result = feed(c.bytes, c.mouse);
		EXPECT_EQ(result.events, c.events);
		EXPECT_EQ(result.kinds, c.kinds);
	}
}

// The builder the simulator and the tests use, against frames worked out by hand: the
// checksum is the payload's sum modulo 256, the header not counted.
TEST(frame_reader, make_frame_adds_the_payload_sum)
{
	const struct {
		serial_frame built;
		serial_frame by_hand;
	} cases[] = {
		{make_frame(keyboard_header, 0x02, 0xF0, 0x1C, 0x00), {0x4B, 0x02, 0xF0, 0x1C, 0x00, 0x0E}},
		{make_frame(joystick_header, 0xFF, 0xFF, 0x01, 0x01), {0x4A, 0xFF, 0xFF, 0x01, 0x01, 0x00}},
		{make_frame(mouse_header, 0x00, 0x08, 0x05, 0x00), {0x4D, 0x00, 0x08, 0x05, 0x00, 0x0D}},
	};
	for (const auto &c : cases)
		EXPECT_EQ(c.built, c.by_hand);
}

TEST(frame_reader, frame_is_whole_when_good)
{
	frame_reader reader;
	const serial_frame sent = {0x4B, 0x02, 0xF0, 0x1C, 0x00, 0x0E};
	frame_event last = E::none;
	for (uint8_t byte : sent)
		last = feed_frame_byte(reader, byte, false);
	EXPECT_EQ(last, E::good);
	EXPECT_EQ(reader.frame, sent);
	EXPECT_EQ(reader.position, 0);
}

} // namespace
