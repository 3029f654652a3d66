# A value with 1E in bits 8-15 is a wrapped key: it is sent inside key code
# 30 (press 30, the key, its release, release 30), and while shift is held
# key code 27 is reported up around it and down again after. Only shift does
# that; bits 16-31 carry no meaning; 1F or 00 in bits 8-15 is a plain key.
[key map]
lshift 12
rshift 59
lctrl 14
1C a - 1E05
1C a S 1E05
1C a C 1E05
32 b - 1F05
21 c - 0005
23 d - 7F1E05
2B f - 1E0005
34 g - 1E00

[input]
say shift clear
tap 1C
say left shift, then right shift held at press and release
key 12 down
tap 1C
key 12 up
key 59 down
tap 1C
key 59 up
say shift let go before the release
key 12 down
key 1C down
key 12 up
key 1C up
say under ctrl: no 27
key 14 down
key 1C down
key 14 up
say 1F or 00 in bits 8-15: a plain key; bits 16-31 ignored; wrapped code 0
key 32 down
key 21 down
key 23 down
key 2B down
key 34 down

[kbd]
 30 1 $
 5 1 $
 5 0 $
 30 0 $
 27 0 $
 30 1 $
 5 1 $
 5 0 $
 27 1 $
 30 0 $
 27 0 $
 30 1 $
 5 1 $
 5 0 $
 27 1 $
 30 0 $
 27 0 $
 30 1 $
 5 1 $
 5 0 $
 30 0 $
 30 1 $
 5 1 $
 5 1 $
 5 1 $
 30 1 $
 5 1 $
 5 1 $
 30 1 $
 0 1 $
 0 0 $
 5 0 $
 30 0 $
