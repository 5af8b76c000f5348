# 2^32 + 8: a conversion that wrapped around would read it as 8.
lumbra showFile 4294967304 "$CASE_DATA/random256.bin"
