# --fail-below that is no number in 0..1, and a block size that is no number:
# refused with status 1 before the file is read.
lumbra-kit test --fail-below abc no-such-file.bin
echo "status $?"
lumbra-kit test --fail-below 1e400 no-such-file.bin
echo "status $?"
lumbra-kit test -n x no-such-file.bin
