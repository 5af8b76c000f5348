# test --doubling: a generator piped in, judged at 1 MiB, 2 MiB, 4 MiB, ...
# until a verdict is "not random"; each report is `test` of the bytes read
# so far, to the byte.
gen() { python3 "$CASE_DATA/turns_bad.py" "$1"; }
# Turns bad after 4 MiB: stops at the 8 MiB report with status 3.
gen 4194304 | lumbra-kit test -q --doubling -
echo "status ${PIPESTATUS[1]}"
gen 4194304 | lumbra-kit test -q --doubling --format json - > reports.jsonl
echo "status ${PIPESTATUS[1]}, $(wc -l < reports.jsonl) reports"
line=0
for size in 1048576 2097152 4194304; do
  line=$((line + 1))
  gen 4194304 | head -c $size | lumbra-kit test -q --format json - > prefix.json
  sed -n ${line}p reports.jsonl | cmp - prefix.json && echo "report $line is test of the first $size bytes"
done
# A good generator runs to --max-bytes; several block sizes, more statistics,
# a first report of its own.
gen 1000000000000 | lumbra-kit test -q --doubling --first-report 700KB --max-bytes 3MiB -n 64,1000 --statistics all -
echo "status ${PIPESTATUS[1]}"
# The end of the input is the last report; a file works as standard input does.
gen 1000000000000 | head -c 1500000 > short.bin
lumbra-kit test -q --doubling -j 1 --fail-below 0.001 short.bin
echo "status $?"
# Sizes that are not sizes, and options that go with --doubling alone.
for args in "--max-bytes 12XB" "--max-bytes 0" "--first-report 1.5MiB" "--first-report MiB" \
            "--max-bytes 99999999999999999999" "--max-bytes 20000000TB"; do
  lumbra-kit test --doubling $args short.bin
  echo "$args: status $?"
done
lumbra-kit test --max-bytes 1MiB short.bin
echo "status $?"
lumbra-kit test --doubling short.bin short.bin
echo "status $?"
lumbra-kit test --doubling --plot x.svg short.bin
