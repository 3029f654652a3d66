// The kernel's input event record, as uinput and the event devices read and
// write it.
//
// The kernel lays the record out with two native longs of time before type,
// code and value: 16 bytes on the 32-bit handheld, 24 on a 64-bit machine.
// The C library's own struct input_event follows the library's time_t
// instead, and a 32-bit musl has a 64-bit time_t, under which the header's
// default record is 24 bytes: a kernel that reads 16 would take every event
// apart wrongly. So the record is spelled here in the kernel's terms, once,
// for the daemon and for whatever reads its devices in the tests.
#pragma once

#include <cstdint>

struct input_event_record {
	unsigned long seconds;      // the kernel stamps its own time; written as 0
	unsigned long microseconds;
	uint16_t type;
	uint16_t code;
	int32_t value;
};
static_assert(sizeof(input_event_record) == 2 * sizeof(long) + 8,
	      "the record must be the kernel's native one");
