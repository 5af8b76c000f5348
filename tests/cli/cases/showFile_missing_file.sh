lumbra showFile 8 no-such-file.bin
