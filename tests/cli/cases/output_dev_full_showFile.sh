lumbra showFile 8 "$CASE_DATA/random256.bin" > /dev/full
