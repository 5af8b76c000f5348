printf '\xa5' > data.bin
lumbra showFile 3 data.bin
