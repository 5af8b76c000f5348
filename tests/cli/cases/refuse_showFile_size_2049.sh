lumbra showFile 2049 missing.bin
