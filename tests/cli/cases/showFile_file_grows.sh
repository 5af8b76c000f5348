# 128 KiB are appended to a 128 KiB file while lumbra reads it: lumbra reads
# on to the new end, with the output of all 256 KiB and status 0.
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 512 > grows.bin
repeat_data random256.bin 1024 > all256k.bin
append() { repeat_data random256.bin 512 >> grows.bin; }
change_while_reading grows.bin all256k.bin append
