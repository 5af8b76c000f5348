# 16 KiB are appended to a 16 KiB file while lumbra reads it: lumbra reads on
# to the new end, with the output of all 32 KiB and status 0.
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 64 > grows.bin
repeat_data random256.bin 128 > all32k.bin
append() { repeat_data random256.bin 64 >> grows.bin; }
change_while_reading grows.bin all32k.bin append
