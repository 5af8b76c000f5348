# Helpers for command-line cases; a case sources this file with
#   source "$CASE_DATA/../helpers.sh"

# repeat_data FILE COUNT: COUNT copies of tests/cli/data/FILE in a row.
repeat_data() {
  local i
  for ((i = 0; i < $2; i++)); do cat "$CASE_DATA/$1"; done
}

# read_offset PID FILE: the offset at which process PID reads FILE, empty
# while it has not opened it.
read_offset() {
  local fd want
  want=$(cd "$(dirname "$2")" && pwd -P)/$(basename "$2")
  for fd in /proc/"$1"/fd/*; do
    if [[ $(readlink "$fd" 2>/dev/null) == "$want" ]]; then
      awk '/^pos:/ { print $2 }' "/proc/$1/fdinfo/${fd##*/}" 2>/dev/null
      return
    fi
  done
}

# change_while_reading FILE EXPECTED CHANGE...: runs `lumbra showFile 8 FILE`
# and, once it has read from FILE, runs the command CHANGE... (which changes
# FILE); then prints lumbra's status, the number of blocks it showed, and
# whether its output equals that of `lumbra showFile 8 EXPECTED`.
#
# What makes this deterministic: lumbra writes into a pipe that nobody reads
# until CHANGE has run. It fills its 64 KiB output buffer and the pipe's
# 64 KiB and then waits, having read one 64 KiB piece of FILE (its
# read-ahead) and shown a few KiB of it (every input byte gives it at least
# 33 bytes of output). So a change beyond the first 64 KiB of FILE always
# comes before lumbra gets there, however fast or slow it runs (under
# valgrind too).
change_while_reading() {
  local file=$1 expected=$2 pid status offset i
  shift 2
  mkfifo out.pipe
  exec 3<> out.pipe  # a reader, so that lumbra's open does not wait for one
  lumbra showFile 8 "$file" > out.pipe 3<&- &
  pid=$!
  for ((i = 0; i < 1200; i++)); do
    offset=$(read_offset "$pid" "$file")
    [[ ${offset:-0} -gt 0 ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "lumbra had read from $file before the change: $([[ ${offset:-0} -gt 0 ]] && echo yes || echo no)"
  "$@"
  # A read-only end before the read-write one goes, so that the pipe never
  # lacks a reader; then lumbra is its only writer, and cat ends with it.
  exec 4< out.pipe
  exec 3<&-
  cat <&4 > out.txt &
  exec 4<&-
  wait "$pid"
  status=$?
  wait
  lumbra showFile 8 "$expected" > expected.txt
  echo "status $status"
  echo "blocks shown: $(grep -c $'^8\t' out.txt)"
  if cmp -s out.txt expected.txt; then
    echo "output equals that of a run over $expected"
  else
    echo "output differs from that of a run over $expected"
  fi
}
