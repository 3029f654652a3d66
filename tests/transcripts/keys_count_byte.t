# The count byte says where the scan code is: byte 1 + count. Count 0 makes
# the count itself the code (and tests the header for F0), count 4 the
# checksum. A count above 4 is ignored, modifiers and Pause prefix included,
# but still counts as one of the three frames after Pause.
[key map]
lshift 12
E080 Pause - 77
1C a - 1E
00 zero - 05
E000 z - 06
04 F3 - 3D
E0D4 x - 05
32 b - 41
21 c - 42
23 d - 43

[input]
# count 0
frame K 00 1C F0 1C
frame K 00 E0 00 00
# count 4: 04 is the code (F3); with E0 and F0: D4 released after E0
frame K 04 00 00 00
frame K 04 E0 00 F0
# count 4 again: its checksum 1C is the code
frame K 04 00 00 18
# counts 5 and 255: nothing, no shift held, no Pause
frame K 05 E1 12 12
frame K FF 12 12 12
frame K 05 1C 1C 1C
frame K FF 1C 1C 1C
frame K 01 1C 00 00
# Pause's three frames: counts 5, 255 and 80
frame K 03 E1 14 77
frame K 05 00 00 00
frame K FF 00 00 00
frame K 80 1C 1C 1C
frame K 01 1C 00 00
# Pause's three frames: count 5, then b and c
frame K 03 E1 14 77
frame K 05 1C 00 00
tap 32
tap 23

[kbd]
 5 1 $
 6 1 $
 61 1 $
 5 0 $
 30 1 $
 30 1 $
 119 1 $
 30 1 $
 119 1 $
 67 1 $
 67 0 $
 6 0 $
 30 0 $
 61 0 $
 119 0 $
