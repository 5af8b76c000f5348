# A generator for the doubling test: endless random bytes (Mersenne Twister
# of a fixed seed) to standard output, each byte's lowest bit set from byte
# BAD on (argv[1]), so that its ones drift to 9/16 there. Ends quietly when
# the reader goes.
import os
import random
import sys

bad = int(sys.argv[1])
rng = random.Random(37)
out = sys.stdout.buffer
written = 0
piece = 1 << 16
try:
    while True:
        chunk = bytearray(rng.randbytes(piece))
        if written + piece > bad:
            for i in range(max(0, bad - written), piece):
                chunk[i] |= 1
        out.write(chunk)
        written += piece
except BrokenPipeError:
    os._exit(0)
