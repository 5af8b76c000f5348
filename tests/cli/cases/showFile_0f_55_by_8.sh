printf '\x0f\x55' > data.bin
lumbra showFile 8 data.bin
