lumbra showFile 2048 "$CASE_DATA/random256.bin"
