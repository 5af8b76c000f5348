# A file that is also standard output would be read while it grows with
# what is shown of it: refused before it is read.
printf 'ab' > f.bin
lumbra showFile 8 f.bin >> f.bin
echo "status $?, f.bin holds $(wc -c < f.bin) bytes"
lumbra showFile 8 f.bin > f.bin
