printf '\xa5\x3c\xff' > data.bin
lumbra showFile 5 data.bin
