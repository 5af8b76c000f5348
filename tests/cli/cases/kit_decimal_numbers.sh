# Every integer of lumbra-kit is plain decimal, as in lumbra: leading zeros
# mean nothing; octal, hex, signs, fractions and the empty string are
# refused with one line naming the argument.
lumbra-kit count 010 05 02 | head -1
lumbra showC 010 05 02 | tail -1; echo
lumbra-kit test -q -n 08 --first-block 0100 --block-count 01 --format json "$CASE_DATA/random256.bin" | grep -o '"first_block":[0-9]*'
for args in "count 0x10 5 2" "count 10 '' 2" "count 10 +5 2" "count 10 5 2.0" "count 10 5 -1" "unrank 16 -1 3 0" \
            "test -j 0x2 x" "rank --cache-mib 1e3 x" "count 99999999999999999999 1 1"; do
  eval lumbra-kit "$args"
  echo "$args: status $?"
done
