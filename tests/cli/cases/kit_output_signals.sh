# A run stopped by a signal whose default action ends the process, while it
# writes OUT, leaves nothing: neither OUT nor its temporary file, and ends as
# the signal would (status 128 + n; no core file). SIGKILL cannot be caught: it
# leaves the temporary file, whose name says what it is, and still no OUT.
# encode reads a FIFO that never ends, so it is always stopped mid-write.
set -m  # background jobs take SIGINT as a foreground one does
ulimit -c 0
mkfifo endless
exec 3<> endless
head -c 5000 "$CASE_DATA/random256.bin" >&3 2> /dev/null
for sig in INT TERM HUP XFSZ PIPE QUIT USR1 USR2 ALRM VTALRM PROF KILL; do
  lumbra-kit encode endless out.lk 2> /dev/null &
  pid=$!
  for ((i = 0; i < 600; i++)); do
    compgen -G '.out.lk.lumbra-kit-partial.*' > /dev/null && break
    sleep 0.05
  done
  kill -s $sig $pid
  wait $pid 2> /dev/null
  status=$?
  echo "SIG$sig: status $status, left: $(ls -A | grep -v '^endless$' | sed 's/partial\..*/partial.XXXXXX/' | tr '\n' ' ')"
  rm -f .out.lk.lumbra-kit-partial.*
done
