lumbra showFile 64 "$CASE_DATA/random256.bin"
