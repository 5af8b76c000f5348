# The picture's destination is checked before any reading: an existing
# picture (without --force) or a folder that is not there fails at once, with
# no summary printed; --plot-dir is made when missing; two inputs whose
# pictures would share a name are refused before the work, with --force too.
cp "$CASE_DATA/random256.bin" random.bin
echo mine > p.svg
lumbra-kit test -n 16 --plot p.svg random.bin
echo "status $?"
cat p.svg
lumbra-kit test -n 16 --plot missing/p.svg random.bin
echo "status $?"
lumbra-kit test -n 16 --plot-dir plots random.bin > /dev/null
echo "status $?"
ls plots
lumbra-kit test -n 16 --plot-dir plots random.bin
echo "status $?"
mkdir a b
cp random.bin a/x.bin
cp random.bin b/x.bin
lumbra-kit test -n 16 --plot-dir plots -f a/x.bin b/x.bin
echo "status $?"
ls plots
lumbra-kit test -n 16 --format json random.bin > s.json
lumbra-kit merge --plot p.svg s.json
echo "status $?"
lumbra-kit merge --plot merged.svg --force s.json > /dev/null
echo "status $?"
grep -c '<svg' merged.svg
