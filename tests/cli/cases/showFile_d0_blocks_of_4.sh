printf '\xd0' > data.bin
lumbra showFile 4 data.bin
