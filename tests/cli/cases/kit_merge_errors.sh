# Summaries that do not merge: each refused with one line and status 2.
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 4 > data.bin
lumbra-kit test -q -n 100 --block-count 40 --format json data.bin > a.json
lumbra-kit test -q -n 100 --first-block 30 --format json data.bin > b.json
lumbra-kit test -q -n 64 --first-block 40 --format json data.bin > c.json
lumbra-kit test -q -n 100 --first-block 50 --format json data.bin > d.json
echo '{"block_size": 100}' > short.json
echo 'not json' > text.json
for args in "a.json b.json" "a.json c.json" "a.json a.json" "short.json" "text.json" "gone.json"; do
  lumbra-kit merge $args
  echo "merge $args: status $?"
done
# A gap is only a warning.
lumbra-kit merge d.json a.json | head -1
