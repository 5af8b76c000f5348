# 256 random bytes in blocks of 100 bits: p-values of every size.
lumbra-kit blocks -n 100 "$CASE_DATA/random256.bin"
