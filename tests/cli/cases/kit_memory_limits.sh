# Under any address-space limit every command either does its work or ends
# with status 2 and one line saying why: never an abort, a crash or a
# message from deep inside a library. Only the runs that break this rule
# are printed.
if [[ -n "${LUMBRA_WRAP:-}" || "${LUMBRA_SANITIZED:-0}" == 1 ]]; then
  echo "SKIP: a wrapper or a sanitizer needs more address space than the limits leave" >&2
  exit 77
fi
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 64 > data.bin
lumbra-kit test -q -n 256 --block-count 200 --format json data.bin > a.json
lumbra-kit test -q -n 256 --first-block 200 --format json data.bin > b.json
lumbra-kit encode data.bin data.lk 2> /dev/null
# A forged header that claims 2^60 bytes.
{ printf '\211LKC\001\020\000\200\000\000\000\000\000\000\000\000\000\000\000'; head -c 102400 /dev/zero; } > bomb.lk
commands=(
  "test -q -n 256 data.bin"
  "test -q -j 4 data.bin"
  "blocks -q -n 512 data.bin"
  "merge a.json b.json"
  "count 4000000 2000000 4000000"
  "count 300000 150000 100"
  "rank -n 512 data.bin"
  "unrank 4096 2048 100 123456789"
  "encode --force data.bin out.lk"
  "decode --force data.lk out.bin"
  "decode --force bomb.lk out.bin"
  "count --max-seconds 1 100000000 50000000 1"
)
bad=0
for limit in 20000 30000 45000 60000 80000 100000 150000 200000 300000 400000; do
  for command in "${commands[@]}"; do
    (ulimit -v $limit; exec lumbra-kit $command > /dev/null 2> err.txt)
    status=$?
    lines=$(wc -l < err.txt)
    if [[ $status != 0 && ($status != 2 || $lines != 1) ]]; then
      echo "ulimit -v $limit, $command: status $status, $lines lines on stderr"
      head -3 err.txt
      bad=1
    fi
  done
done
[[ $bad == 0 ]] && echo "every run under every limit ended with status 0, or 2 and one line"
exit $bad
