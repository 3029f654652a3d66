# The frame reader: bytes before the first header are dropped silently, a
# frame with a bad checksum is reported on standard output and dropped whole,
# and the byte after it is looked at as a frame start. Without -M a mouse
# frame is dropped whole and reaches no handler.
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

[kbd]
 30 1 $
 30 0 $
 48 1 $
 48 0 $
 28 1 $
 30 1 $
 30 0 $
 28 0 $

[stdout]
Error checksum$
