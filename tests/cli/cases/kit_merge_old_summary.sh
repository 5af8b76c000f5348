# A summary that lumbra-kit 1.0.0 wrote (blocks 0..63; the ones and the
# deviation alone, as "ones_test" and "deviation_test") merges with one of
# today's (blocks 64..127): the merge judges what both hold, and its ones,
# deviation and deviations are those of one run over all the blocks.
lumbra-kit test -q -n 16 --first-block 64 --format json "$CASE_DATA/random256.bin" > new.json
lumbra-kit merge "$CASE_DATA/old_summary_blocks_0_63.json" new.json
lumbra-kit merge --format json "$CASE_DATA/old_summary_blocks_0_63.json" new.json > merged.json
lumbra-kit test -q -n 16 --format json "$CASE_DATA/random256.bin" > whole.json
figures() { grep -oE '"(ones|deviation)":\{[^}]*\}|"deviations":\{[^}]*\}|"shapes":.*' "$1"; }
figures merged.json > merged.txt
figures whole.json > whole.txt
echo "figures: $(wc -l < merged.txt) alike: $(cmp -s merged.txt whole.txt && echo yes || echo no)"
echo "the whole file's runs in the merge (the old summary has none): $(grep -c "\"runs\"" merged.json)"
