# Slice and thread options out of range: one line each and status 1.
for args in "--first-block -1" "--block-count 1e3" "--first-block 18446744073709551616" "-j 0"; do
  lumbra-kit test $args "$CASE_DATA/random256.bin"
  echo "test $args: status $?"
done
