# unshape refuses a damaged stream with one line naming the word (from 0)
# and status 2, and leaves nothing at OUT.
head -c 100 "$CASE_DATA/random256.bin" > data
lumbra-kit shape data s        # N = 256, D = 4: 236 bits a word, 32 bytes; 6 words
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 4 > longer
lumbra-kit shape longer l
try() { lumbra-kit unshape "$@" out; echo "status $?, out $([[ -e out ]] && echo present || echo absent)"; }
# flip F BYTE MASK: F with byte BYTE xor MASK.
flip() {
  local b
  b=$(od -An -tu1 -j "$2" -N1 "$1")
  cp "$1" "$1.flip"
  printf "$(printf '\\%03o' $((b ^ $3)))" | dd of="$1.flip" bs=1 seek="$2" conv=notrunc status=none
}
flip s 70 4; try s.flip                                   # a flipped bit in word 2
{ head -c 100 s; tail -c +102 s; } > dropped; try dropped  # a byte dropped in word 3
{ cat s; tail -c 32 s; } > extra; try extra                # a word after the checksum
head -c 180 s > short; try short                           # ends inside word 5
head -c 160 s > missing; try missing                       # word 5 is missing
{ head -c 32 l; tail -c +33 s; } > length; try length      # the length of `longer`: more than there is
{ head -c 160 s; tail -c 32 l; } > crc; try crc            # the checksum of `longer`
# text and dna: a line one short, a foreign character, a line too long
lumbra-kit shape --alphabet text -n 16 -d 2 data t
{ head -c 40 t; tail -c +42 t; } > t.short; try --alphabet text -n 16 -d 2 t.short
sed '3s/1/2/' t > t.char; try --alphabet text -n 16 -d 2 t.char
sed '2s/$/0/' t > t.long; try --alphabet text -n 16 -d 2 t.long
lumbra-kit shape --alphabet dna -n 16 -d 2 data g
sed '4s/A/N/' g > g.char; try --alphabet dna -n 16 -d 2 g.char
sed '5s/A/C/' g > g.pair; try --alphabet dna -n 16 -d 2 g.pair
sed '6s/A/T/' g > g.base; try --alphabet dna -n 16 -d 2 g.base
try --alphabet dna -n 16 -d 3 g                            # another D
