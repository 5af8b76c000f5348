# The file is cut from 256 KiB to 128 KiB while lumbra reads it: lumbra ends
# at the new end, with the output of the first 128 KiB and status 0.
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 1024 > shrinks.bin
head -c 131072 shrinks.bin > first128k.bin
change_while_reading shrinks.bin first128k.bin truncate -s 131072 shrinks.bin
