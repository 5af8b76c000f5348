# blocks --statistics: a value and an exact p-value column for each named
# statistic, after p_deviation, in both formats, the same on two threads;
# no column asked for, none added; a name that is no statistic is refused.
cp "$CASE_DATA/random256.bin" random.bin
lumbra-kit blocks -n 256 --statistics rank,linear_complexity,collisions random.bin
lumbra-kit blocks -n 100 --statistics runs,collisions --format jsonl random.bin | head -n 3
lumbra-kit blocks -n 256 --statistics all -j 2 random.bin > two.tsv
lumbra-kit blocks -n 256 --statistics all -j 1 random.bin | cmp - two.tsv && echo "the same on two threads"
head -n 1 two.tsv
lumbra-kit blocks -n 256 random.bin | head -n 1
lumbra-kit blocks --statistics rank,gaps random.bin
