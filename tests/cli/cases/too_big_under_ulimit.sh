# Under an address-space limit the estimate is held against what the limit
# leaves, and the refusal names the limit.
if [[ -n "${LUMBRA_WRAP:-}" || "${LUMBRA_SANITIZED:-0}" == 1 ]]; then
  echo "SKIP: a wrapper or a sanitizer needs more address space than the limit leaves" >&2
  exit 77
fi
ulimit -v 300000
lumbra showTrian 3000 1500 1500 2> err.txt
status=$?
sed -E 's/leaves [0-9]+ MiB/leaves N MiB/' err.txt >&2
exit $status
