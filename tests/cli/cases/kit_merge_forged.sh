# Summaries are another program's output: merge checks them before it
# trusts them, and says exactly which blocks a merged summary holds.
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 4 > data.bin   # 8192 bits: 81 blocks of 100 bits and one of 92
repeat_data random256.bin 3 > other.bin
slice() { lumbra-kit test -q -n 100 --format json --first-block $1 --block-count $2 ${3:-data.bin}; }
slice 0 10 > a.json; slice 10 10 > b.json; slice 20 10 > c.json; slice 30 51 > d.json
slice 10 10 other.bin > other.json
slice 0 30 > whole.json
check() {
  lumbra-kit merge "$@" > out.json 2> err.txt
  echo "merge $*: status $?"
  cat err.txt
}
# A gap stays a gap: the merged summary holds 20 blocks in two ranges.
lumbra-kit merge --format json a.json c.json > ac.json
grep -o '"first_block":[0-9]*,"block_count":[0-9]*,"ranges":[][0-9,]*' ac.json
# Merging it again with a part of it is an overlap; with the gap's blocks it
# is the whole, figure for figure.
check ac.json c.json
lumbra-kit merge --format json ac.json b.json > acb.json
lumbra-kit merge --format json whole.json > w.json
cmp acb.json w.json && echo "a + c, then b: the same as one run over blocks 0..29"
# Slices of two files of different sizes; a shorter block before others.
check a.json other.json
sed 's/"file_bits":[0-9]*,//' d.json > d-old.json
sed 's/"file_bits":[0-9]*,//' <(slice 81 1) > last-old.json
sed 's/"file_bits":[0-9]*,//; s/"first_block":81/"first_block":0/; s/"ranges":\[\[81,1\]\]/"ranges":[[0,1]]/' <(slice 81 1) > early-old.json
lumbra-kit merge last-old.json d-old.json | head -1
check early-old.json d-old.json
# Summaries of the old form (no file size, no ranges) still merge.
sed 's/"file_bits":[0-9]*,//; s/"ranges":[^]]*]],//' a.json > a-old.json
sed 's/"file_bits":[0-9]*,//; s/"ranges":[^]]*]],//' b.json > b-old.json
lumbra-kit merge a-old.json b-old.json | head -1
# Forged numbers: sums that wrap to agree, fractions, out of range, too
# many shapes, two shorter blocks, a block size off the scale.
bins() { echo "[$1,0,0,0,0,0,0,0,0,0]"; }
forge() {
  echo "{\"block_size\":$1,\"first_block\":0,\"block_count\":$2,\"blocks\":$2,\"bits\":$3,\"ones\":$4,\"ones_test\":{\"passing\":0,\"bins_observed\":$(bins $2)},\"deviation_test\":{\"passing\":0,\"bins_observed\":$(bins $2)},\"deviations\":{\"observed\":[$2]},\"shapes\":$5}"
}
forge 1024 18014398509481984 0 0 '[[1024,1024,18014398509481984]]' > wrap.json
forge 1024.9 1 1024 0 '[[1024,0,1]]' > fraction.json
forge 1024 1 1024 0 '[[1024,0,1.0]]' > float.json
forge 1024 1 1024 0 '[[1024,0,-1]]' > negative.json
forge 5000 1 5000 0 '[[5000,0,1]]' > size.json
forge 8 2 10 0 '[[4,0,1],[6,0,1]]' > two-short.json
forge 8 12 96 0 "[$(for k in 0 1 2 3 4 5 6 7 8 9 10; do echo -n "[8,$k,1],"; done)[8,8,1]]" > shapes.json
for f in wrap fraction float negative size two-short shapes; do check $f.json; done
# Text no summary is: far too long, or nested too deep.
head -c 20000000 /dev/zero | tr '\0' '[' > brackets.json
check brackets.json
echo '{"block_size":[[[[[[1]]]]]]}' > deep.json
check deep.json
