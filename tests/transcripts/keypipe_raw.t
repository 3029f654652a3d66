# With -V every key event goes to the key-injection device as two raw bytes,
# code and down, each pair as soon as it is made; nothing goes to the
# keyboard device. Code 0 is a real zero byte; wrapped keys and joystick
# buttons come out the same way.
options: -V
[key map]
lshift 12
1C a - 1E
21 c - 100
23 d - FF
32 b S 1E05

[input]
tap 1C
tap 21
tap 23
key 12 down
tap 32
key 12 up
say joystick button 0: no J line, code 0
joy 0x0001

[keypipe]
1E 01 1E 00
00 01 00 00
FF 01 FF 00
1B 00 1E 01 05 01 05 00 1B 01 1E 00
00 01
00 00 1B 00
