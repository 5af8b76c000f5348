# The reader goes away after one line. Like any filter, lumbra is ended by
# SIGPIPE at its next write: status 141 in the shell, nothing on stderr.
# (env restores the signal's default, whatever this shell inherited.)
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 64 > big.bin
env --default-signal=PIPE lumbra showFile 8 big.bin | head -1
echo "${PIPESTATUS[0]}"
