/* The System V terminal record for musl, which has the TCGETA and TCSETA
 * requests but not the record they take. The layout is the kernel's own
 * (asm-generic/termios.h): four 16-bit flag words, the line discipline and
 * NCC control characters. Only the handheld's musl build sees this file. */
#ifndef PS2LINK_MUSL_TERMIO_H
#define PS2LINK_MUSL_TERMIO_H

#include <sys/ioctl.h>
#include <termios.h>

#define NCC 8

struct termio {
	unsigned short c_iflag;
	unsigned short c_oflag;
	unsigned short c_cflag;
	unsigned short c_lflag;
	unsigned char c_line;
	unsigned char c_cc[NCC];
};

#endif
