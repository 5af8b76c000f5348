# The table cannot fit in memory: refused before any of it is built. The
# machine's size is shown as N, so that the case holds on any machine.
lumbra showTrian 200000 100000 100000 2> err.txt
status=$?
sed -E 's/this machine has [0-9]+ GiB/this machine has N GiB/' err.txt >&2
exit $status
