# Typing through the key map shipped in etc/: the byte sequences a US 104-key
# keyboard sends, split into frames as the adapter does, give the Linux key
# codes (KEY_A 30, KEY_LEFTSHIFT 42, KEY_UP 103, KEY_NUMLOCK 69...) under
# every combination of modifiers. The sample names eight joystick buttons:
# button 0 is the Up arrow.
[key map: etc/ser_code_vantor.ini]

[input]
say a, shift+a, up arrow
type a
type A
tap up
say right ctrl+c; ctrl+shift+left
key rctrl down
tap 21
key rctrl up
key lctrl down
key lshift down
tap left
key lshift up
key lctrl up
say modifiers let go out of order never stick
key lshift down
key lalt down
key lcmd down
key ralt down
key lctrl down
key lshift up
key lcmd up
key lctrl up
key ralt up
key lalt up
say F1 let go while ctrl is held still comes up; alt+a sends alt and a
key f1 down
key lctrl down
key f1 up
key lctrl up
key lalt down
tap 1C
key lalt up
say alt+tab, ctrl+alt+delete and cmd+e arrive as on a PC
key lalt down
tap 0D
key lalt up
key lctrl down
key lalt down
key e0 71 down
key e0 71 up
key lalt up
key lctrl up
key lcmd down
tap 24
key lcmd up
say PrintScreen inside its fake shift
key e0 12 down
key e0 7C down
key e0 7C up
key e0 12 up
say Insert while shift is held: the fake shift is let go around it
key lshift down
key e0 12 up
key insert down
key insert up
key e0 12 down
key lshift up
say keypad Enter and Enter
key kpenter down
key enter down
say NumLock and its light, then Caps with shift held
tap numlock
key lshift down
tap caps
key lshift up
say Pause, its tail, then a
tap pause
tap 1C
say joystick buttons 0 and 8: Up, and code 0 for the unnamed one
joy 0x0101

[kbd]
 30 1 $
 30 0 $
 42 1 $
 30 1 $
 30 0 $
 42 0 $
 103 1 $
 103 0 $
 97 1 $
 46 1 $
 46 0 $
 97 0 $
 29 1 $
 42 1 $
 105 1 $
 105 0 $
 42 0 $
 29 0 $
 42 1 $
 56 1 $
 125 1 $
 100 1 $
 29 1 $
 42 0 $
 125 0 $
 29 0 $
 100 0 $
 56 0 $
 59 1 $
 29 1 $
 59 0 $
 29 0 $
 56 1 $
 30 1 $
 30 0 $
 56 0 $
 56 1 $
 15 1 $
 15 0 $
 56 0 $
 29 1 $
 56 1 $
 111 1 $
 111 0 $
 56 0 $
 29 0 $
 125 1 $
 18 1 $
 18 0 $
 125 0 $
 99 1 $
 99 0 $
 42 1 $
 110 1 $
 110 0 $
 42 0 $
 96 1 $
 28 1 $
 69 1 $
 69 0 $
 42 1 $
 58 1 $
 58 0 $
 42 0 $
 119 1 $
 30 1 $
 30 0 $
 103 1 $
 0 1 $
 0 0 $
 28 0 $
 96 0 $
 103 0 $
 119 0 $

[adapter]
6B ED 02
6B ED 06
