# The progress line through a pseudo-terminal: on a terminal it shows (per
# cent, MB/s, time left), is rewritten in place and wiped before the verdict;
# with standard error in a file, or with --quiet, it never shows. The input
# is 160 MiB of zeros in a sparse file, long enough for the first line.
command -v script > /dev/null || { echo "SKIP: script (util-linux) is not installed" >&2; exit 77; }
truncate -s 160M zeros.bin
script -qefc "lumbra-kit test -j 1 zeros.bin" /dev/null > tty.txt
script -qefc "lumbra-kit test -j 1 zeros.bin 2> err.txt; lumbra-kit test -j 1 --quiet zeros.bin" /dev/null > quiet.txt
yes_no() { if "$@"; then echo yes; else echo no; fi; }
echo "shown on a terminal: $(yes_no grep -qE $'\r *[0-9]+%  [0-9.]+ MB/s  [0-9]+:[0-9]{2} left' tty.txt)"
echo "wiped before the verdict: $(yes_no grep -qE $'left\r +\rblocks  ' tty.txt)"
echo "shown with stderr in a file: $(yes_no test -s err.txt)"
echo "shown with --quiet: $(yes_no grep -q 'MB/s' quiet.txt)"
