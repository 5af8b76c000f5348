# On a terminal, a count estimated above 3 seconds says so before it starts
# and shows a progress line (per cent, time left), wiped before the result;
# with --quiet, neither. Through a pseudo-terminal, on an optimised build.
command -v script > /dev/null || { echo "SKIP: script (util-linux) is not installed" >&2; exit 77; }
if [[ -n "${LUMBRA_WRAP:-}" || "${LUMBRA_SANITIZED:-0}" == 1 ]]; then
  echo "SKIP: too slow under a wrapper or a sanitizer" >&2
  exit 77
fi
script -qefc "lumbra-kit count 2500000 1250000 1" /dev/null > tty.txt
script -qefc "lumbra-kit count --quiet 2500000 1250000 1" /dev/null > quiet.txt
yes_no() { if "$@"; then echo yes; else echo no; fi; }
echo "estimate shown: $(yes_no grep -qE 'count 2500000 1250000 1: estimated at about [0-9.]+ s' tty.txt)"
echo "progress shown: $(yes_no grep -qE $'\r *[0-9]+%  count, [0-9]+:[0-9]{2} left' tty.txt)"
echo "wiped before the result: $(yes_no grep -qE $'left\r +\rC\\(2500000, 1250000, 1\\) = ' tty.txt)"
echo "shown with --quiet: $(yes_no grep -qE 'estimated|left' quiet.txt)"
