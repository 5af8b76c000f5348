# A header that claims far more than its coded data can hold (2^60 bytes in
# blocks of 4096 bits before 100 KB of zero bytes, which decode to all-zero
# blocks at almost no cost) is refused at once, with one line and status 2,
# before a byte is written: from a file, from a pipe and to standard output.
# A stream the encoder wrote, all zeros and so near the least cost a block
# can have, still decodes from a pipe and with its size known.
{
  printf '\211LKC\001\020\000\200\000\000\000\000\000\000\000\000\000\000\000'
  head -c 102400 /dev/zero
} > bomb.lk
lumbra-kit decode bomb.lk out; echo "status $?, out $([[ -e out ]] && echo present || echo absent)"
cat bomb.lk | lumbra-kit decode - out; echo "status $?, out $([[ -e out ]] && echo present || echo absent)"
echo "to standard output: $(lumbra-kit decode bomb.lk - | wc -c) bytes"
head -c 3000000 /dev/zero > zeros
lumbra-kit encode -n 4096 zeros zeros.lk 2> /dev/null
lumbra-kit decode zeros.lk back && cmp zeros back && echo "zeros from a file: same bytes"
cat zeros.lk | lumbra-kit decode -q - - | cmp - zeros && echo "zeros from a pipe: same bytes"
ls -A
