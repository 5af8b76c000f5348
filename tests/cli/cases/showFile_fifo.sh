# A named pipe is read like any file: lumbra waits for the writer's bytes
# and stops when the writer closes it.
mkfifo bits.fifo
{ printf '\x0f'; sleep 0.2; printf '\x55'; } > bits.fifo &
lumbra showFile 8 bits.fifo
