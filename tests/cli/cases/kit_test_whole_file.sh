# Blocks of one bit cannot vary, but the whole file's balance still judges
# the file: 4 KiB of zeros fails --fail-below at -n 1 (status 3).
head -c 4096 /dev/zero > zeros.bin
lumbra-kit test -n 1 --fail-below 0.01 zeros.bin
