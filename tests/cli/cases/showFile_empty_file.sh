touch empty.bin
lumbra showFile 8 empty.bin
