# Messages that name what went wrong, before any work where they can.
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 4 > data.bin
lumbra-kit encode data.bin data.lk 2> /dev/null
# Empty names are refused before anything is read or written.
lumbra-kit decode data.lk ''; echo "decode to '': status $?"
lumbra-kit test -q --plot '' data.bin; echo "--plot '': status $?"
# An option before the command is named.
lumbra-kit -x; echo "-x: status $?"
# --help and --version that cannot be written.
lumbra-kit --help > /dev/full; echo "--help > /dev/full: status $?"
lumbra-kit count --help > /dev/full; echo "count --help > /dev/full: status $?"
lumbra-kit --version >&-; echo "--version >&-: status $?"
# With standard output closed, output asked for there fails; nothing is
# copied onto a file that took its descriptor.
lumbra-kit decode data.lk - >&-; echo "decode - >&-: status $?"
lumbra-kit encode data.bin - 2> /dev/null >&-; echo "encode - >&-: status $?"
lumbra-kit count 10 5 2 >&-; echo "count >&-: status $?"
ls
# The temporary copy of standard output is named as such. A wrapper (valgrind)
# cannot start without its temporary folder: then the plain binary runs this
# one line.
kit=lumbra-kit
[[ -n "${LUMBRA_WRAP:-}" ]] && kit=$LUMBRA_KIT_UNWRAPPED
TMPDIR=$PWD/missing "$kit" decode data.lk - 2>&1 | sed "s|$PWD|.|"
# Slices that reach past 2^64 bits.
lumbra-kit test -q -n 4096 --first-block 4503599627370496 /dev/zero; echo "status $?"
lumbra-kit test -q -n 8 --first-block 2305843009213693950 --block-count 2 /dev/zero; echo "status $?"
