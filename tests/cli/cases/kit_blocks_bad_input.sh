# A missing file, a directory, a block size out of range, an unknown option.
lumbra-kit blocks no-such-file.bin
echo "status $?"
mkdir folder
lumbra-kit blocks folder
echo "status $?"
lumbra-kit blocks -n 4097 folder
echo "status $?"
lumbra-kit blocks --frobnicate folder
