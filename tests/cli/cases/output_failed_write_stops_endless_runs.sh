# Runs that read without end: once a write to standard output has failed,
# nothing more can reach a reader, so each stops there with status 2.
# (timeout turns a regression into a failure instead of a hang.)
timeout 60 lumbra showFile 64 /dev/zero > /dev/full
echo "/dev/full: status $?"
timeout 60 lumbra showFile 8 /dev/zero >&-
echo "closed: status $?"
timeout 60 env --ignore-signal=PIPE lumbra showFile 8 /dev/urandom | head -1 > /dev/null
echo "broken pipe: status ${PIPESTATUS[0]}"
