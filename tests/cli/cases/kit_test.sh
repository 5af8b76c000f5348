# The verdict on 256 random bytes in blocks of 16 bits, as text and JSON.
lumbra-kit test -n 16 "$CASE_DATA/random256.bin"
# The JSON prints the runs law's sums to their last bit, and those sums are
# taken in long double, which valgrind runs at a double's precision: under
# a wrapper the JSON line runs the binary itself.
kit=lumbra-kit
[[ -n "${LUMBRA_WRAP:-}" ]] && kit=$LUMBRA_KIT_UNWRAPPED
"$kit" test -n 16 --format json "$CASE_DATA/random256.bin"
