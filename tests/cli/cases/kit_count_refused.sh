# K above N and a word that is no number: refused with status 1.
lumbra-kit count 10 11 2
echo "status $?"
lumbra-kit count 10 five 2
