# NumLock and Caps Lock drive the keyboard's lights: the daemon keeps its own
# bits (NumLock 02, Caps 04), never reads them back, and sends them all in
# "k", ED, bits on every press of a key named exactly "NumLock" or "Caps",
# whatever its scan code. The release changes nothing; a value of 0 sends no
# key event but still switches the light; a key without a line for the held
# combination switches nothing. A keyboard that powers up again sends AA, its
# self-test result: it holds no key and has its lights off; a joystick button
# held meanwhile is no key of the keyboard's and stays down.
[key map]
lshift 12
77 NumLock - 45
58 Caps - 0
7E numlock - 46
0D CAPS - 0F
1C NumLock - 1E
E058 Caps - 3A
J 0 fire 41

[input]
say NumLock press: light on, key sent; release: key only
key 77 down
key 77 up
say Caps with value 0: light on, nothing sent
tap 58
say NumLock again: its light off
tap 77
say names that differ in case drive no light
tap 7E
tap 0D
say Caps again: all off, a real zero byte
tap 58
say the name, not the scan code, drives the light
tap 1C
key e0 58 down
say no slot under shift: no light either
key 12 down
tap 58
key 12 up
say NumLock once more: nothing came in between
key 77 down
joy 0x0001
say a keyboard plugged in again says AA: what it held is let go, the lights go again
frame K 01 AA 00 00
tap 1C
say the joystick's button was still down: its release comes now
joy 0x0000

[kbd]
 69 1 $
 69 0 $
 69 1 $
 69 0 $
 70 1 $
 70 0 $
 15 1 $
 15 0 $
 30 1 $
 30 0 $
 58 1 $
 69 1 $
 65 1 $
 58 0 $
 69 0 $
 30 1 $
 30 0 $
 65 0 $

[adapter]
6B ED 02
6B ED 06
6B ED 04
6B ED 00
6B ED 02
6B ED 06
6B ED 04
6B ED 04
6B ED 06
