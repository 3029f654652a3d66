# Joystick frames carry buttons 8-15 in byte 2 and 0-7 in byte 3. Every
# button that changed since the last frame sends one key event, in button
# order; the first frame is compared with no button down. A button sends the
# low byte of its J line's value, never wrapped; a button without a line
# sends key code 0.
[key map]
J 0 fire 141
J 1 jump 1E05
J 2 b2 12
J 3 b3 13
J 4 b4 14
J 6 b6 16
J 7 b7 17
J 8 b8 18
J 9 b9 19
J 10 b10 1A
J 11 b11 1B
J 13 b13 1D
J 14 b14 1E
J 15 b15 1F

[input]
say the buttons already down at the first frame are pressed; again: nothing
joy 0x0009
joy 0x0009
joy 0x0000
say a bad checksum changes nothing; bytes 1 and 4 carry no buttons
raw 4A 00 FF FF 00 FF
frame J FF 00 00 FF
frame J 01 00 00 80
say button 8, then button 0 down and 8 up: button 0 first
joy 0x0100
joy 0x0001
say sixteen buttons change at once, and back
joy 0xFFFE
joy 0x0001
say a held button is not repeated
joy 0x8001
joy 0x8000
joy 0x0000
say unnamed buttons 5 and 12; jump's value 1E05 sends 05
joy 0x1020
joy 0x0002

[kbd]
 65 1 $
 19 1 $
 65 0 $
 19 0 $
 24 1 $
 65 1 $
 24 0 $
 65 0 $
 5 1 $
 18 1 $
 19 1 $
 20 1 $
 0 1 $
 22 1 $
 23 1 $
 24 1 $
 25 1 $
 26 1 $
 27 1 $
 0 1 $
 29 1 $
 30 1 $
 31 1 $
 65 1 $
 5 0 $
 18 0 $
 19 0 $
 20 0 $
 0 0 $
 22 0 $
 23 0 $
 24 0 $
 25 0 $
 26 0 $
 27 0 $
 0 0 $
 29 0 $
 30 0 $
 31 0 $
 31 1 $
 65 0 $
 31 0 $
 0 1 $
 0 1 $
 5 1 $
 0 0 $
 0 0 $
 5 0 $

[stdout]
Error checksum$
