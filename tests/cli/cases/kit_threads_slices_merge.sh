# Property, end to end: for random block sizes (most not a multiple of 8),
# thread counts and slicings of one file, `blocks` and `test` give the same
# bytes with -j N as with -j 1, and the summaries of the slices, merged in a
# shuffled order, give the same JSON as one run over the whole file.
source "$CASE_DATA/../helpers.sh"
for ((i = 1; i <= 160; i++)); do repeat_data random256.bin 1 | tail -c $((i % 251 + 1)); done > data.bin
RANDOM=14
for round in 1 2 3 4 5 6; do
  n=$((RANDOM % 300 + 1)) j=$((RANDOM % 4 + 2))
  blocks=$(( ($(stat -c %s data.bin) * 8 + n - 1) / n ))
  lumbra-kit blocks -q -n $n -j 1 data.bin > b1
  lumbra-kit blocks -q -n $n -j $j data.bin > bj
  lumbra-kit test -q -n $n -j 1 --format json data.bin > whole.json
  lumbra-kit test -q -n $n -j $j --format json data.bin > whole_j.json
  # Cut points at random, the last slice running past the end.
  # (RANDOM only in this shell: a subshell would seed its own.)
  cuts=(0) count=$((RANDOM % 4))
  for ((c = 0; c < count; c++)); do cuts+=($((RANDOM % blocks))); done
  readarray -t cuts < <(printf '%s\n' "${cuts[@]}" | sort -n -u)
  rm -f slice_*.json
  for ((s = 0; s < ${#cuts[@]}; s++)); do
    first=${cuts[s]} next=${cuts[s + 1]:-$((blocks + 7))}
    lumbra-kit test -q -n $n -j $j --first-block $first --block-count $((next - first)) --format json data.bin > slice_$s.json
  done
  lumbra-kit merge --format json $(ls slice_*.json | sort -r) > merged.json
  echo "round $round: blocks $(cmp -s b1 bj && echo same || echo DIFFER)," \
    "test $(cmp -s whole.json whole_j.json && echo same || echo DIFFER)," \
    "merge of ${#cuts[@]} $(cmp -s whole.json merged.json && echo same || echo DIFFER)"
done
