# Where the band runs long: --max-seconds refuses it with its estimate (a
# formula of the band's cells, the same on every machine); on a terminal an
# estimate above 3 seconds is shown and a progress line follows, wiped
# before the result; with --quiet, neither. 2 10^5 against 2 10^5 + 1
# without ties at D = 0.05 (p ~ 1e-216): the band, 4e9 cells.
seq 0 2 399998 > x.txt
seq 20001 2 420001 > y.txt
lumbra-kit smirnov --max-seconds 2 x.txt y.txt; echo "status $?"
lumbra-kit smirnov --exact --max-seconds 60 x.txt y.txt; echo "status $?"
printf '1 2 3\n' > a.txt
printf '4 5 6\n' > b.txt
lumbra-kit smirnov --max-seconds 1 --format json a.txt b.txt; echo "status $?"
command -v script > /dev/null || { echo "SKIP: script (util-linux) is not installed" >&2; exit 77; }
if [[ -n "${LUMBRA_WRAP:-}" || "${LUMBRA_SANITIZED:-0}" == 1 ]]; then
  echo "SKIP: too slow under a wrapper or a sanitizer" >&2
  exit 77
fi
script -qefc "lumbra-kit smirnov x.txt y.txt" /dev/null > tty.txt
script -qefc "lumbra-kit smirnov --quiet x.txt y.txt" /dev/null > quiet.txt
yes_no() { if "$@"; then echo yes; else echo no; fi; }
echo "estimate shown: $(yes_no grep -qE 'smirnov: the p-value is estimated at about [0-9.]+ s' tty.txt)"
echo "progress shown: $(yes_no grep -qE $'\r *[0-9]+%  p-value, [0-9]+:[0-9]{2} left' tty.txt)"
echo "wiped before the result: $(yes_no grep -qE $'left\r +\rn1: 200000' tty.txt)"
echo "shown with --quiet: $(yes_no grep -qE 'estimated|left' quiet.txt)"
grep -a '^p-value' quiet.txt
