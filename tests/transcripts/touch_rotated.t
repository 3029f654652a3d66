# With -x the touch device gets the rotated coordinates (x from the panel's
# y, y as 480 less the panel's x) and pressures 500 with the button up, 1000
# with it down. No calibration file: the screen position is the panel point.
options: -M -x
[input]
mouse +100 +50
mouse +10 -5 left
mouse +0 +0

[ts]
500 100 430 0$
1000 110 435 0$
500 110 435 0$

[adapter]
65
