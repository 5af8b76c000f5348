# Rows of a million cells of half a billion bits each are more than the machine has.
lumbra showC 2147483646 1073741000 1000000 2> err.txt
status=$?
sed -E 's/this machine has [0-9]+ GiB/this machine has N GiB/' err.txt >&2
exit $status
