// The adapter's six-byte frames as built and as read whole. Synchronisation and
// the checksum rules, with what each case leads to on the devices, are the
// transcript tests/transcripts/frames.t.
#include <gtest/gtest.h>

#include "serial/frame_reader.h"

namespace {

using E = frame_event;

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
