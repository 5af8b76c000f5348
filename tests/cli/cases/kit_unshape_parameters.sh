# unshape with other parameters than shape used: the first words fail, and
# the message names the parameters of the same N that read them.
printf 'Hello, world!\n' > hello.txt
lumbra-kit shape -n 32 -d 3 hello.txt bits3
lumbra-kit shape --alphabet dna -n 32 -d 3 hello.txt dna3
lumbra-kit unshape -n 32 -d 4 bits3 out
echo "status $?"
lumbra-kit unshape -n 32 -d 2 bits3 out
echo "status $?"
lumbra-kit unshape -n 32 -d 3 dna3 out
echo "status $?"
lumbra-kit unshape --alphabet text -n 32 -d 3 bits3 out
echo "status $?"
# Bytes that no parameters read: the message alone.
yes lumbra | head -c 600 > junk
lumbra-kit unshape -n 32 -d 3 junk out
echo "status $?"
lumbra-kit unshape -n 32 -d 3 bits3 out && cmp hello.txt out
