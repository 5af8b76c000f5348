# Work that needs more memory than the machine has is refused at once.
lumbra-kit count 2147483646 1073741000 1000000 2> err.txt
status=$?
sed -E 's/this machine has [0-9]+ GiB/this machine has N GiB/; s/about [0-9]+ GiB/about M GiB/' err.txt >&2
exit $status
