# Plain keys: a press and its release are looked up in the plain slot, an
# E0 key in the E0 slot; a key without a slot, or with value 0, sends nothing.
# Key codes are decimal on the keyboard device.
[key map]
1C a - 1E
75 KP8 - 48
E075 Up - 67
E0E0 x - 05
32 b - 0
21 c - FF
23 d - 100

[input]
tap 1C
# bytes after the scan code carry no meaning
frame K 01 1C F0 E0
frame K 02 F0 1C F0
key up down
key up up
key 75 down
key 75 up
# E0 alone is the code E0 after the prefix
frame K 01 E0 00 00
# no slot: 1D, and a after E0
tap 1D
key e0 1C down
# value 0
tap 32
# 255, and 256 wraps to 0
tap 21
tap 23

[kbd]
 30 1 $
 30 0 $
 30 1 $
 30 0 $
 103 1 $
 103 0 $
 72 1 $
 72 0 $
 5 1 $
 255 1 $
 255 0 $
 0 1 $
 0 0 $
 5 0 $
