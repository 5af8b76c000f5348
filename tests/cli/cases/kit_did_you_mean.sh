# Manners: a command or option within two edits of one that exists is
# named; a refusal points at the command's own help; json is taken where
# JSON Lines are written.
cp "$CASE_DATA/random256.bin" random.bin
lumbra-kit tset random.bin
echo "status $?"
lumbra-kit test --foramt json random.bin
echo "status $?"
lumbra-kit blocks -n 64 --fromat=json random.bin
echo "status $?"
lumbra-kit help tets
echo "status $?"
lumbra-kit frobnicate
echo "status $?"
lumbra-kit blocks -n 1024 --format json random.bin
lumbra-kit rank -n 16 --format json random.bin | head -2
