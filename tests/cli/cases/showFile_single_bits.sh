printf '\x80' > data.bin
lumbra showFile 1 data.bin
