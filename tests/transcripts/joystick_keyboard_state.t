# Buttons whose key codes equal the scan codes of shift and NumLock touch
# none of the keyboard's state: no modifier, no light, and button frames do
# not count among the three keyboard frames ignored after Pause. A modifier
# held on the keyboard stays held across buttons.
[key map]
lshift 12
77 NumLock - 45
E080 Pause - 50
1C a - 40
1C a S 41
J 0 shift 12
J 1 numlock 77

[input]
say buttons on shift's and NumLock's codes, then a
joy 0x0003
tap 1C
say Pause (its first frame only), then buttons during the ignored frames
frame K 03 E1 14 77
joy 0x0000
joy 0x0001
say the buttons did not count: three keyboard frames still ignored, then a
key 1C down
key 1C up
key 1C down
tap 1C
say the first light command is NumLock's own; buttons leave the light alone
key 77 down
joy 0x0003
joy 0x0000
tap 77
say shift held on the keyboard stays held across buttons
key 12 down
joy 0x0001
joy 0x0000
tap 1C
key 12 up

[kbd]
 18 1 $
 119 1 $
 64 1 $
 64 0 $
 80 1 $
 18 0 $
 119 0 $
 18 1 $
 64 1 $
 64 0 $
 69 1 $
 119 1 $
 18 0 $
 119 0 $
 69 1 $
 69 0 $
 18 1 $
 18 0 $
 65 1 $
 65 0 $
 80 0 $

[adapter]
6B ED 02
6B ED 00
