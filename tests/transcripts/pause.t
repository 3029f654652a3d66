# Pause sends E1 14 77 E1 F0 14 F0 77 and no release; the adapter passes it
# on in frames of which the first holds E1. The key is looked up as E0 80 and
# the next three keyboard frames are ignored, whatever they hold: a modifier
# let go in them stays held. A frame with a bad checksum is no frame and does
# not count.
[key map]
lshift 12
E080 Pause - 77
E080 Pause S 78
1C a - 1E
1C A S 2E

[input]
say Pause in the frames of a real keyboard, then a twice
frame K 03 E1 14 77
frame K 03 E1 F0 14
frame K 02 F0 77 00
frame K 01 1C 00 00
frame K 01 1C 00 00
say shift let go in the tail stays held
key 12 down
frame K 03 E1 14 77
key 12 up
frame K 01 00 00 00
frame K 01 00 00 00
frame K 01 1C 00 00
key 12 up
frame K 01 1C 00 00
say a bad frame in the tail; the third ignored frame holds E1
key 12 down
frame K 03 E1 14 77
raw 4B 01 1C 00 00 1E
key 12 up
key 1C down
frame K 03 E1 F0 14
key 1C down
key 12 up
key 1C up
say the simulator's Pause: four frames, the key and its tail
tap pause
tap 1C

[kbd]
 119 1 $
 30 1 $
 120 1 $
 46 1 $
 30 1 $
 120 1 $
 46 1 $
 30 0 $
 119 1 $
 30 1 $
 30 0 $
 46 0 $
 119 0 $
 120 0 $

[stdout]
Error checksum$
