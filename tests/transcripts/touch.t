# With -M the daemon asks the adapter for mouse frames ("e" at start-up) and
# reports an absolute pointer to the touch device: one line "pressure x y 0"
# per mouse frame, at the panel point the calibration maps onto the pointer,
# pressure 500 while the left button is down. The pointer stays on the
# 480 x 640 screen. Keys go on as before.
options: -M
[key map]
1C a - 1E
[pointercal]
2000 0 -7000 0 3000 11000 1000

[input]
mouse +100 +50
mouse +10 -5 left
mouse +0 +0 left
mouse +0 +0
say to the far corner and beyond, then back past the start
mouse +255 +255
mouse +255 +255
mouse +255 +255
mouse -256 -256
mouse -256 -256
mouse -256 -256
tap 1C

[kbd]
 30 1 $
 30 0 $

[ts]
0 28 29 0$
500 26 33 0$
500 26 33 0$
0 26 33 0$
0 153 118 0$
0 243 203 0$
0 243 209 0$
0 115 124 0$
0 3 38 0$
0 3 -3 0$

[adapter]
65
