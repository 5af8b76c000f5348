# The file is cut from 64 KiB to 16 KiB while lumbra reads it: lumbra ends at
# the new end, with the output of the first 16 KiB and status 0.
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 256 > shrinks.bin
head -c 16384 shrinks.bin > first16k.bin
change_while_reading shrinks.bin first16k.bin truncate -s 16384 shrinks.bin
