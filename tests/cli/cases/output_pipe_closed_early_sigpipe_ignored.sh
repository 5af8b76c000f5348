# The same when SIGPIPE is ignored: the next write fails with "Broken pipe",
# and the run ends with status 2 and says so.
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 64 > big.bin
env --ignore-signal=PIPE lumbra showFile 8 big.bin | head -1
echo "${PIPESTATUS[0]}"
