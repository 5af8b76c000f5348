# The verdict on 256 random bytes in blocks of 16 bits, as text and JSON.
lumbra-kit test -n 16 "$CASE_DATA/random256.bin"
lumbra-kit test -n 16 --format json "$CASE_DATA/random256.bin"
