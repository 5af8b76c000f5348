# A run stopped by SIGINT, SIGTERM or SIGHUP while it writes OUT leaves
# nothing: neither OUT nor its temporary file. SIGKILL cannot be caught: it
# leaves the temporary file, whose name says what it is, and still no OUT.
# encode reads a FIFO that never ends, so it is always stopped mid-write.
set -m  # background jobs take SIGINT as a foreground one does
mkfifo endless
exec 3<> endless
head -c 5000 "$CASE_DATA/random256.bin" >&3 2> /dev/null
for sig in INT TERM HUP KILL; do
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
