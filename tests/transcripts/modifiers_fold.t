# Left and right modifiers fold into one combination of shift (S), ctrl (C),
# alt (F) and cmd (M). Each "a" line sends 40 plus the combination it is
# filed under, so every event names the combination that was looked up. A
# real keyboard sends right ctrl and alt as E0 14 and E0 11; here they also
# sit on codes of their own (0F, 17) so that either hand can be held apart.
[key map]
lshift 12
rshift 59
lctrl 14
rctrl 0F
lalt 11
ralt 17
rcmd 1F
rcmd 27
12 LeftShift S 2A
E012 fake S 05
1C a - 40
1C a S 41
1C a C 42
1C a F 44
1C a CF 46
1C a M 48
1C a SCFM 4F

[input]
say nothing held, then left shift: its own press is looked up under shift
tap 1C
key 12 down
tap 1C
say right shift too (it has no line: no event), then left let go
key 59 down
tap 1C
key 12 up
tap 1C
key 59 up
tap 1C
say right shift alone
key 59 down
tap 1C
key 59 up
say left shift tapped alone: its release under none sends nothing
tap 12
say right ctrl; left alt and left ctrl, then alt let go first
key 0F down
tap 1C
key 0F up
key 11 down
key 14 down
tap 1C
key 11 up
tap 1C
key 14 up
say right alt; left ctrl and right alt
key 17 down
tap 1C
key 17 up
key 14 down
key 17 down
tap 1C
key 14 up
key 17 up
say the E0 forms of ctrl and alt are the same modifiers
key e0 14 down
key e0 11 down
tap 1C
key e0 14 up
key e0 11 up
say right Windows key after E0; two keys on rcmd: letting go of either clears it
key e0 27 down
tap 1C
key e0 27 up
key e0 1F down
key e0 27 down
key e0 1F up
tap 1C
key e0 27 up
say E0 12 is shift as well, and is looked up after E0
key e0 12 down
tap 1C
key e0 12 up
tap 1C
say all four groups
key 12 down
key e0 14 down
key e0 11 down
key e0 27 down
tap 1C
key e0 27 up
key e0 11 up
key e0 14 up
key 12 up

[kbd]
 64 1 $
 64 0 $
 42 1 $
 65 1 $
 65 0 $
 65 1 $
 65 0 $
 42 0 $
 65 1 $
 65 0 $
 64 1 $
 64 0 $
 65 1 $
 65 0 $
 42 1 $
 66 1 $
 66 0 $
 70 1 $
 70 0 $
 66 1 $
 66 0 $
 68 1 $
 68 0 $
 70 1 $
 70 0 $
 70 1 $
 70 0 $
 72 1 $
 72 0 $
 64 1 $
 64 0 $
 5 1 $
 65 1 $
 65 0 $
 64 1 $
 64 0 $
 42 1 $
 79 1 $
 79 0 $
 5 0 $
 42 0 $
