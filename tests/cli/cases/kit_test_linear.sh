# A generator linear over GF(2) walks like fair bits but gives every block's
# matrix full rank: 16 KiB of xorshift32 (13, 17, 5), written little-endian,
# pass the walk's statistics and fail the rank, judged by default;
# linear_complexity sees it in blocks of 4096 bits (at most 1024).
x=2463534242
for ((i = 0; i < 4096; i++)); do
  ((x ^= (x << 13) & 0xffffffff, x ^= x >> 17, x ^= (x << 5) & 0xffffffff))
  printf -v w '\\x%02x\\x%02x\\x%02x\\x%02x' $((x & 255)) $((x >> 8 & 255)) $((x >> 16 & 255)) $((x >> 24))
  printf "$w"
done > xorshift.bin
lumbra-kit test xorshift.bin
lumbra-kit test -n 4096 --statistics linear_complexity,collisions xorshift.bin | tail -n 6
lumbra-kit test --fail-below 1e-4 -q xorshift.bin
echo "status $?"
