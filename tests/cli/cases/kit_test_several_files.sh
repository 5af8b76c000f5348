# Several files: one summary each (a heading line in text, a "file" key in
# JSON), the status the worst of theirs; --plot with several is refused,
# --plot-dir draws one picture per file.
cp "$CASE_DATA/random256.bin" random.bin
head -c 4096 /dev/zero | tr '\0' '\017' > stripes.bin
lumbra-kit test -n 16 random.bin stripes.bin
lumbra-kit test -n 16 --format json random.bin stripes.bin | cut -c 1-60
lumbra-kit test -n 16 --fail-below 0.001 -q random.bin stripes.bin > /dev/null
echo "status $?"
lumbra-kit test -n 16 --plot p.svg stripes.bin stripes.bin
echo "status $?"
mkdir pictures
lumbra-kit test -n 4 --plot-dir pictures stripes.bin random.bin > /dev/null
echo "status $?"
ls pictures
grep -c '<svg' pictures/*.svg
