# encode then decode gives back every byte: empty, one byte, an odd size
# that ends in a partial block, and input and output through pipes.
: > empty
printf 'x' > one
cat "$CASE_DATA/random256.bin" "$CASE_DATA/random256.bin" "$CASE_DATA/random256.bin" "$CASE_DATA/random256.bin" | head -c 1001 > odd
for f in empty one odd; do
  for n in 1 7 256 1000; do
    lumbra-kit encode -n $n $f $f.$n.c 2> /dev/null && lumbra-kit decode $f.$n.c $f.$n.d && cmp $f $f.$n.d && echo "$f n=$n ok"
  done
done
(head -c 300 odd; sleep 0.2; tail -c +301 odd) | lumbra-kit encode -n 100 - - 2> /dev/null | lumbra-kit decode - - | cmp - odd && echo "pipes ok"
lumbra-kit encode odd odd.c
