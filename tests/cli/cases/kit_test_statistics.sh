# --statistics chooses what is judged: all six, their slices merged to the
# bytes of one run; a summary of the default three merged with one of all
# six judges the three they share; a name that is no statistic is refused.
cp "$CASE_DATA/random256.bin" random.bin
lumbra-kit test --statistics all -n 16 random.bin
lumbra-kit test --statistics longest_run -n 16,8 random.bin | tail -n 5
lumbra-kit test --statistics all -n 16 --format json random.bin > one.json
lumbra-kit test --statistics all -n 16 --block-count 50 --format json random.bin > a.json
lumbra-kit test --statistics all -n 16 --first-block 50 --format json random.bin > b.json
lumbra-kit merge --format json b.json a.json | cmp - one.json && echo "the slices merge to one run"
lumbra-kit test -n 16 --first-block 50 --format json random.bin > c.json
lumbra-kit merge a.json c.json | head -n 5
lumbra-kit test --statistics runs,bogus random.bin
