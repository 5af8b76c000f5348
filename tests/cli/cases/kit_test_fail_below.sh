# A file of 0x0f bytes is far from random: with --fail-below the status is 3.
head -c 4096 /dev/zero | tr '\0' '\017' > stripes.bin
lumbra-kit test -n 64 stripes.bin
echo "status $?"
lumbra-kit test -n 64 --fail-below 0.001 stripes.bin
