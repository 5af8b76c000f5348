# The README's way of spreading one file over machines, on this machine only
# (GNU parallel's sshlogin ":" is the local host): one job per slice, their
# summaries collected one a line, then one merge; the same JSON as one run.
command -v parallel > /dev/null || { echo "SKIP: GNU parallel is not installed" >&2; exit 77; }
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 40 > data.bin
blocks=$(( ($(stat -c %s data.bin) * 8 + 99) / 100 ))
seq 0 100 $((blocks - 1)) |
  parallel --will-cite --sshlogin 2/: lumbra-kit test -q -j 1 -n 100 --first-block {} --block-count 100 --format json data.bin > slices.jsonl
echo "slices: $(wc -l < slices.jsonl)"
lumbra-kit merge --format json slices.jsonl > merged.json
lumbra-kit test -q -n 100 --format json data.bin > whole.json
cmp merged.json whole.json && echo "merged = whole"
