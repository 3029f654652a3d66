# The frame reader: bytes before the first header are dropped silently, a
# frame with a bad checksum is reported on standard output and dropped whole,
# and the byte after it is looked at as a frame start; a byte that looks like
# a header inside a frame is data, and a frame cut short takes the next
# frame's first bytes. Without -M a mouse frame is dropped whole and reaches
# no handler, whatever its payload looks like.
[key map]
1C a - 1E
32 b - 30
J 0 fire 1C

[input]
raw 00 FF 1C F0
tap 1C
say a checksum off by one, then a good frame
raw 4B 01 1C 00 00 1E
tap 32
say mouse frames while the mouse is off, one with a key-like payload
mouse +10 +10 left
frame M 01 1C 00 00
joy 0x0001
raw 4D 01 32 00 00 33
tap 1C
say a mouse frame with a joystick press for payload, after a joystick frame
raw 4A 00 00 00 00 00 4D 00 00 01 00 01
say a mouse frame whose payload, were only its header dropped, would be a good key frame
raw 4D 4B 01 1C 00 68 85
say the checksum wraps: FF FF 01 01 needs 00 (buttons 0 and 8 to 15); all zero needs 00
raw 4A FF FF 01 01 00
raw 4A 00 00 00 00 00
say a joystick press with its checksum one too low: nothing pressed
raw 4A 00 00 01 00 00
say header values inside frames are data
raw 4B 01 1C 4B 4D B5 4A 4A 00 01 4D 98 4A 4A 00 00 4D 97 4B 01 1C 2E 00 4B
say the frame kind follows each header: keyboard, joystick, keyboard, joystick
raw 4B 01 1C 00 00 1D 4A 00 00 01 00 01 4B 02 F0 1C 00 0E 4A 00 00 00 00 00
say a frame cut after three bytes is completed by the next frame's first three
raw 4B 01 1C
raw 4B 01 1C 00 00 1D 4B 01 1C 00 00 1D

[kbd]
 30 1 $
 30 0 $
 48 1 $
 48 0 $
 28 1 $
 30 1 $
 30 0 $
 28 0 $
 28 1 $
 0 1 $
 0 1 $
 0 1 $
 0 1 $
 0 1 $
 0 1 $
 0 1 $
 0 1 $
 28 0 $
 0 0 $
 0 0 $
 0 0 $
 0 0 $
 0 0 $
 0 0 $
 0 0 $
 0 0 $
 30 1 $
 28 1 $
 28 0 $
 30 1 $
 30 1 $
 28 1 $
 30 0 $
 28 0 $
 30 1 $
 30 0 $

[stdout]
Error checksum$
Error checksum$
Error checksum$
