# A key is looked up under the combination held at that moment, press and
# release alike, with no fallback to the plain slot: a key without a line for
# the held combination sends nothing. A modifier key's own press is looked
# up with its bit already set, its release with the bit cleared.
[key map]
lshift 12
12 LeftShift S 2A
12 LeftShift - 2B
32 b - 30

[input]
say shift goes down under S and comes up under -
tap 12
say b alone, then with shift held: no S line, no event
tap 32
key 12 down
tap 32
key 12 up
say b pressed alone, released with shift held: the release finds no line
key 32 down
key 12 down
key 32 up
key 12 up

[kbd]
 42 1 $
 43 0 $
 48 1 $
 48 0 $
 42 1 $
 43 0 $
 48 1 $
 42 1 $
 43 0 $
 42 0 $
 48 0 $
