printf '\x7f' > data.bin
lumbra showFile 1 data.bin
