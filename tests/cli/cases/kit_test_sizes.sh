# Several block sizes in one reading: a table per size, then each
# statistic's least p-value times the sizes that judged it, and the whole
# file's lines once. Each size's JSON equals that size's run alone.
cp "$CASE_DATA/random256.bin" random.bin
head -c 4096 /dev/zero | tr '\0' '\017' > stripes.bin
lumbra-kit test -n 8,16,2 random.bin
lumbra-kit test -n 16,8 -q --fail-below 0.001 stripes.bin | tail -n 6
echo "status ${PIPESTATUS[0]}"
# NOTE: under a wrapper the JSON lines run the binary itself (see kit_test).
kit=lumbra-kit
[[ -n "${LUMBRA_WRAP:-}" ]] && kit=$LUMBRA_KIT_UNWRAPPED
"$kit" test -n 8,16 --format json random.bin > both.json
"$kit" test -n 16 --format json random.bin > alone.json
cut -c 1-50 both.json
grep -c -F -f alone.json both.json
sed 's/.*"verdict"://' both.json
"$kit" test -n 16,8 --format json stripes.bin | sed 's/.*"verdict"://'
# A size twice, a slice or a picture with several sizes: refused.
lumbra-kit test -n 8,8 random.bin
echo "status $?"
lumbra-kit test -n 8,16 --first-block 2 random.bin
echo "status $?"
lumbra-kit test -n 8,16 --plot p.svg random.bin
echo "status $?"
lumbra-kit test -n 8,,16 random.bin
