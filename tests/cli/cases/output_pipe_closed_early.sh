# The reader goes away after one line. Like any filter, lumbra is ended by
# SIGPIPE at its next write: status 141 in the shell, nothing on stderr.
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 64 > big.bin
lumbra showFile 8 big.bin | head -1
echo "${PIPESTATUS[0]}"
