// The frame reader: header search, collection and checksum test.
#include "serial/frame_reader.h"

uint8_t frame_checksum(const serial_frame &frame)
{
	return make_frame(frame[0], frame[1], frame[2], frame[3], frame[4])[5];
}

frame_event feed_frame_byte(frame_reader &reader, uint8_t byte, bool mouse_accepted)
{
	if (reader.position == 0) {
		reader.foreign = false;
		switch (byte) {
		case keyboard_header: reader.kind = frame_kind::keyboard; break;
		case joystick_header: reader.kind = frame_kind::joystick; break;
		case mouse_header:
			if (mouse_accepted)
				reader.kind = frame_kind::mouse;
			else
				reader.foreign = true;
			break;
		default: return frame_event::none;
		}
	}
	reader.frame[reader.position] = byte;
	if (reader.position < frame_size - 1) {
		++reader.position;
		return frame_event::none;
	}
	reader.position = 0;
	if (frame_checksum(reader.frame) != reader.frame[5])
		return frame_event::bad_checksum;
	return reader.foreign ? frame_event::dropped : frame_event::good;
}
