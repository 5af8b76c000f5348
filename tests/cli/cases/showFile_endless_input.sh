# An endless source: lumbra goes on like any filter until its reader stops.
env --default-signal=PIPE lumbra showFile 8 /dev/zero | head -14
echo "${PIPESTATUS[0]}"
