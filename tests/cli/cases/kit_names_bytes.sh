# Names are bytes: a file name that is not UTF-8 is written in JSON as
# "file" (each such byte as U+FFFD) and "file_bytes" (the bytes
# percent-encoded), which merge checks; in the picture as U+FFFD.
cp "$CASE_DATA/random256.bin" random.bin
bad=$(printf 'inv\377\001.bin')
cp random.bin "$bad"
lumbra-kit test -n 16 --format json random.bin "$bad" | cut -c 1-64
echo "status $?"
lumbra-kit blocks -n 512 --format jsonl random.bin "$bad" | cut -c 1-72
echo "status $?"
lumbra-kit test -n 16 --format json --block-count 64 "$bad" random.bin > first-all.json; head -1 first-all.json > first.json
lumbra-kit test -n 16 --format json --first-block 64 "$bad" random.bin > second-all.json; head -1 second-all.json > second.json
lumbra-kit merge first.json second.json | tail -n 2
echo "status $?"
sed 's/inv%FF%01/inv%FF%02/' first.json > forged.json
lumbra-kit merge forged.json second.json
echo "status $?"
lumbra-kit test -n 16 --plot "$bad.svg" "$bad" > /dev/null
echo "status $?"
grep -o 'test of [^:]*' "$bad.svg" | od -c | head -2
