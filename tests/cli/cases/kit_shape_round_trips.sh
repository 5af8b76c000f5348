# shape then unshape gives back every byte, through all three alphabets, at
# word sizes below a byte and above, through pipes too; what the words of a
# short text look like; and --info for the sizes docs/shaping.md tabulates.
: > empty
printf 'x' > one
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 4 | head -c 1001 > odd
for f in empty one odd; do
  for a in bits text dna; do
    for nd in "2 1" "6 2" "256 4" "1000 9"; do
      set -- $nd
      lumbra-kit shape -n $1 -d $2 --alphabet $a $f $f.s && lumbra-kit unshape -n $1 -d $2 --alphabet $a $f.s $f.b &&
        cmp $f $f.b && rm $f.s $f.b && echo "$f $a n=$1 d=$2 ok"
    done
  done
done
(head -c 300 odd; sleep 0.2; tail -c +301 odd) | lumbra-kit shape -n 64 -d 3 - - | lumbra-kit unshape -n 64 -d 3 - - |
  cmp - odd && echo "pipes ok"
printf 'Hi\n' | lumbra-kit shape -n 16 -d 2 --alphabet text - -
printf 'Hi\n' | lumbra-kit shape -n 16 -d 2 --alphabet dna - -
printf 'Hi\n' | lumbra-kit shape -n 16 -d 2 - - | od -An -tx1
for n in 64 256 1024; do
  for d in 2 4 8; do
    lumbra-kit shape --info -n $n -d $d | tail -n +$([[ $n$d == 642 ]] && echo 1 || echo 2)
  done
done
lumbra-kit shape --info -n 4096 -d 2048 --alphabet dna
