# Output beyond the file-size limit: one line naming the limit, no
# temporary file left, and the status of SIGXFSZ (128 + 25).
ulimit -c 0
for ((i = 0; i < 400; i++)); do cat "$CASE_DATA/random256.bin"; done > in.bin
# (in the background, so that the shell reports no job ended by a signal)
(ulimit -f 8; exec lumbra-kit encode in.bin out.lk) &
wait $! 2> /dev/null
echo "status $?"
ls -A | grep -v '^in.bin$'
echo end
