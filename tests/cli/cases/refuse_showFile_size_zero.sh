lumbra showFile 0 missing.bin
