# Words that cannot carry data, numbers that are not plain decimal and
# misplaced arguments are refused with one line and status 1, before any
# file is touched.
for args in "-n 255" "-n 0" "-n 4098" "-d 200" "-d 0" "-n 8 -d 5" "-n 0x10" "-n 16 -d 010" "--alphabet rna"; do
  lumbra-kit shape $args in out
  echo "status $?"
done
lumbra-kit unshape -d 0 in out
echo "status $?"
lumbra-kit shape --info in out
echo "status $?"
lumbra-kit shape in
echo "status $?"
ls
